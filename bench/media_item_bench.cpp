// Adding camera pictures to the upload list: time per file through AddFile
// against the bare GDI+ calls it cannot avoid (load, thumbnail) in the same
// run. Writes the pictures into the folder given as argument so that
// media_item_bench.sh can time ImageMagick on the same files.
//   media_item_bench.exe FOLDER [COUNT]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "adapters/windows_platform.h"
#include "core/media/media_item.h"
#include "windows/upload_list/media_list_ctrl.h"
#include "bench/bench_pictures.h"
#include "adapters/gdiplus.h"
#include "core/protocol/media_type.h"
#include "tests/support/exif_builder.h"

using namespace Gdiplus;

namespace {

using bench::BareThumbnail;
using bench::Jpeg;
using bench::Now;
using bench::Write;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  quib::InstallWindowsPlatform();
  if (argc < 2) {
    fprintf(stderr, "usage: media_item_bench FOLDER [COUNT]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = argc > 2 ? atoi(argv[2]) : 50;
  EnsureGdiplus();
  CreateDirectoryA(folder.c_str(), nullptr);

  // Half of the files carry an EXIF block with a 160 x 120 preview, as
  // camera files do.
  fprintf(stderr, "writing %d pictures of 4000 x 3000...\n", count);
  const std::string plain[2] = {Jpeg(4000, 3000, 1), Jpeg(4000, 3000, 2)};
  quib_test::ExifSpec spec;
  spec.pixelX = 4000;
  spec.pixelY = 3000;
  spec.preview = Jpeg(160, 120, 3);
  const std::string segment = quib_test::BuildExifSegment(spec);
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const bool exif = i % 2 == 1;
    const std::string bytes =
        exif ? quib_test::InsertAfterStart(plain[i / 2 % 2], segment) : plain[i / 2 % 2];
    paths.push_back(folder + "\\camera" + std::to_string(i) + (exif ? "-exif" : "") + ".jpg");
    Write(paths.back(), bytes);
  }

  CUploadList uploads;
  CMediaListCtrl list(uploads);  // no window: the item and image list work only
  list.InitList();
  BareThumbnail(paths[0]);  // warm up the decoder
  uploads.AddFile(paths[0]);
  uploads.RemoveAll();

  std::vector<double> bare[2], ours[2];
  for (int i = 0; i < count; ++i) {
    const bool exif = i % 2 == 1;
    double t0 = Now();
    BareThumbnail(paths[i]);
    double t1 = Now();
    uploads.AddFile(paths[i]);
    double t2 = Now();
    bare[exif].push_back((t1 - t0) * 1000);
    ours[exif].push_back((t2 - t1) * 1000);
  }
  uploads.RemoveAll();

  printf("%-26s %12s %12s %10s\n", "files (4000 x 3000 JPEG)", "bare GDI+ ms", "AddFile ms",
         "overhead");
  const char* labels[2] = {"without EXIF preview", "with EXIF preview"};
  for (int e = 0; e < 2; ++e) {
    const double b = Median(bare[e]), o = Median(ours[e]);
    printf("%-26s %12.1f %12.1f %9.1f%%\n", labels[e], b, o, (o / b - 1) * 100);
  }
  std::vector<double> allBare = bare[0], allOurs = ours[0];
  allBare.insert(allBare.end(), bare[1].begin(), bare[1].end());
  allOurs.insert(allOurs.end(), ours[1].begin(), ours[1].end());
  const double b = Median(allBare), o = Median(allOurs);
  printf("%-26s %12.1f %12.1f %9.1f%%\n", "all (median per file)", b, o, (o / b - 1) * 100);
  const double d0 = Now();
  for (int i = 0; i < 10; ++i) DetectMediaType(paths[0]);
  printf("media type detection: %.2f ms per call\n", (Now() - d0) * 100);
  printf("ADDFILE_MS %.1f\n", o);
  return 0;
}
