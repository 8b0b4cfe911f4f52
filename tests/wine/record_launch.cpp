// record-launch: the program that test setups install and start. It writes
// how it was started, its command line, its own path and its working
// folder, to C:\popbox-test\launch-record.txt and exits:
//
//   command-line=<GetCommandLineA>
//   module=<GetModuleFileNameA>
//   working-folder=<GetCurrentDirectoryA>
//   show=<the show command it was given, as WinMain gets it>
//
// The record is written under another name and then renamed, so that a test
// that polls for it never reads half a file. A GUI program: no console
// window opens when the shell starts it.
#include <stdio.h>
#include <windows.h>

namespace {

const char kRecord[] = "C:\\popbox-test\\launch-record.txt";
const char kPartial[] = "C:\\popbox-test\\launch-record.partial";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  char module[MAX_PATH * 2] = "";
  char folder[MAX_PATH * 2] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  GetCurrentDirectoryA(sizeof folder, folder);
  FILE* file = fopen(kPartial, "wb");
  if (!file) return 1;
  fprintf(file, "command-line=%s\r\nmodule=%s\r\nworking-folder=%s\r\nshow=%d\r\n",
          GetCommandLineA(), module, folder, show);
  if (fclose(file) != 0) return 1;
  return MoveFileExA(kPartial, kRecord, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
