# The i686 release program: PE32, machine i386, GUI subsystem, system DLLs only.
bash scripts/check-pe.sh build/win32/bin/quibuploader.exe gui
