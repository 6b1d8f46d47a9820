// The string-to-string map of request fields and login answers. Its bucket
// count and hash are fixed because its iteration order is the order of the
// form parts on the wire: a general-purpose map would change the bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CStringHashMap {
 public:
  static constexpr unsigned BucketCount = 17;
  static constexpr unsigned BlockSize = 10;  // entries allocated per pool block

  struct CAssoc;
  // Iteration position: the entry GetNextAssoc returns next; nullptr is the end.
  using Position = const CAssoc*;

  CStringHashMap() = default;
  ~CStringHashMap() = default;
  CStringHashMap(const CStringHashMap&) = delete;
  CStringHashMap& operator=(const CStringHashMap&) = delete;
  CStringHashMap(CStringHashMap&&) noexcept = default;
  CStringHashMap& operator=(CStringHashMap&&) noexcept = default;

  // h = h * 33 + (signed char)byte over the name, modulo 2^32.
  static uint32_t HashName(const std::string& name);

  // The value of the name, created empty when absent. A name that is already
  // present keeps its place in the iteration order.
  std::string& operator[](const std::string& name);
  // True and the value when the name is present (exact bytes, case-sensitive).
  bool Lookup(const std::string& name, std::string& value) const;

  // Buckets 0 to 16 in order, each newest entry first.
  Position GetStartPosition() const;
  // Copies the entry at pos and advances pos (to nullptr after the last).
  void GetNextAssoc(Position& pos, std::string& name, std::string& value) const;

  void RemoveAll();
  size_t GetCount() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  struct CAssoc {
    CAssoc* next = nullptr;
    uint32_t hash = 0;
    std::string name;
    std::string value;
  };

 private:
  CAssoc* Find(const std::string& name) const;
  CAssoc* NewAssoc();

  std::unique_ptr<CAssoc*[]> buckets_;  // allocated on the first insertion
  std::vector<std::unique_ptr<CAssoc[]>> blocks_;
  // Finds an entry without walking its bucket: with 17 buckets a long login
  // answer (hundreds of thousands of lines) would take minutes. The keys are
  // views of the entries' names, which never move.
  std::unordered_map<std::string_view, CAssoc*> index_;
  unsigned usedInLastBlock_ = BlockSize;
  size_t count_ = 0;
};
