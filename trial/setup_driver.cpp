// setup-driver: starts a Windows program and works its windows step by step,
// as a person would, writing a transcript. Runs under Wine with the null
// graphics driver: nothing is drawn, but windows, texts and controls exist.
//
//   setup-driver.exe STEPS_FILE LOG_FILE PROGRAM
//
// STEPS_FILE holds the steps, separated by byte 0x1E, each a name and its
// arguments separated by byte 0x1F. Steps: dialog (wait for the setup
// dialog), window CLASS (another program's window), box [CAPTION TEXT] (a
// message box, compared): each becomes the current window; caption TEXT;
// text ID TEXT; check ID STATE (BM_GETCHECK); control ID and no-control ID;
// set ID TEXT (WM_SETTEXT); click ID (BM_CLICK on an automatic check box,
// else a posted BN_CLICKED); ok and cancel (posted; on a box, waits until it
// is gone); close (WM_CLOSE, waits until gone); close-all CLASS (waits for
// the exit, closing every window of CLASS from now on); exit CODE; signal
// PATH (creates it) and wait PATH; rect PATH (the window's rectangle); kill;
// running PATH (waits for a process of that program file, started by the
// program: the installed application).
// Only visible top-level windows of the program count, and every one must be
// waited for: a wait fails at once when another window appears, and at the
// end every window seen must have been claimed by a step. Waits poll until
// the timeout (60 s). After a failed wait the other steps are skipped; a
// failed comparison is recorded and the steps go on. Exit code 0 when all
// passed, 1 otherwise.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

const DWORD kTimeoutMs = 60000;
const DWORD kPollMs = 10;
const int kBoxTextId = 65535;  // the Static that holds a message box's text
// What a wait for the exit returns: any value but null.
const HWND kExitedWindow = reinterpret_cast<HWND>(1);

FILE* logFile = stdout;
int failures = 0;
PROCESS_INFORMATION program = {};
DWORD exitCode = STILL_ACTIVE;

void Log(const char* prefix, const char* format, ...) {
  fprintf(logFile, "%6lu %s", GetTickCount() % 1000000, prefix);
  va_list args;
  va_start(args, format);
  vfprintf(logFile, format, args);
  va_end(args);
  fputc('\n', logFile);
  fflush(logFile);
  if (strncmp(prefix, "FAIL", 4) == 0) ++failures;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// WM_GETTEXT reaches edits of another process, GetWindowText would not.
std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return "";
  std::vector<char> text(length + 2, 0);
  SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &length);
  return text.data();
}

bool IsBox(HWND hwnd) { return ClassOf(hwnd) == "#32770" && GetDlgItem(hwnd, kBoxTextId); }

struct Seen {
  HWND hwnd;
  std::string className;
  std::string what;  // for the transcript
  bool claimed;
};
std::vector<Seen> seen;
std::vector<HWND> current;  // the window a step works on is the last
std::string closing;        // the class that close-all closes, to the end

BOOL CALLBACK Collect(HWND hwnd, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != program.dwProcessId || !IsWindowVisible(hwnd)) return TRUE;
  for (const Seen& s : seen) {
    if (s.hwnd == hwnd) return TRUE;
  }
  std::string className = ClassOf(hwnd);
  if (className.empty()) return TRUE;  // gone already; a window still there is seen next round
  std::string what = className + " \"" + TextOf(hwnd) + "\"";
  if (IsBox(hwnd)) what += " \"" + TextOf(GetDlgItem(hwnd, kBoxTextId)) + "\"";
  seen.push_back({hwnd, className, what, false});
  return TRUE;
}

bool Exited() {
  if (exitCode == STILL_ACTIVE && WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0) {
    GetExitCodeProcess(program.hProcess, &exitCode);
  }
  return exitCode != STILL_ACTIVE;
}

enum class Want { Box, Class, Exit, Gone, CloseAll };

// The one polling loop: returns the window waited for (or the current one
// for Gone and Exit), or null after a failure.
HWND Wait(Want want, const std::string& className = "") {
  for (DWORD start = GetTickCount(); GetTickCount() - start < kTimeoutMs; Sleep(kPollMs)) {
    if (want == Want::Gone && !IsWindow(current.back())) return current.back();
    EnumWindows(Collect, 0);
    for (Seen& s : seen) {
      // From close-all on, every window of its class is closed, also one
      // that is gone already; other waits pass over windows that are gone.
      bool close = s.className == closing;
      if (s.claimed || (!close && !IsWindow(s.hwnd))) continue;
      bool match = want == Want::Box ? IsBox(s.hwnd) : s.className == className;
      if (close) {
        s.claimed = true;
        Log("closing: ", "%s", s.what.c_str());
        PostMessageA(s.hwnd, WM_CLOSE, 0, 0);
        continue;
      }
      if (!match || want == Want::Exit || want == Want::Gone || want == Want::CloseAll) {
        Log("FAIL: ", "a window appeared that no step waits for: %s", s.what.c_str());
        return nullptr;
      }
      s.claimed = true;
      Log("found: ", "%s", s.what.c_str());
      return s.hwnd;
    }
    // One look at the process per round: it may end between two looks.
    bool exited = Exited();
    if (exited && (want == Want::Exit || want == Want::CloseAll)) return kExitedWindow;
    if (exited && want != Want::Gone) {
      Log("FAIL: ", "the program exited with %lu while a step waited", exitCode);
      return nullptr;
    }
  }
  Log("FAIL: ", "timed out after %lu ms", kTimeoutMs);
  return nullptr;
}

void Expect(const char* what, const std::string& got, const std::string& want) {
  if (got == want) {
    Log("ok: ", "%s \"%s\"", what, got.c_str());
  } else {
    Log("FAIL: ", "%s is \"%s\", expected \"%s\"", what, got.c_str(), want.c_str());
  }
}

// A process other than the driver whose program file is `path`, letter
// case aside.
bool ProcessOf(const std::string& path) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found;
       more = Process32Next(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!process) continue;
    char image[MAX_PATH];
    DWORD size = sizeof image;
    found = entry.th32ProcessID != GetCurrentProcessId() &&
            QueryFullProcessImageNameA(process, 0, image, &size) &&
            lstrcmpiA(image, path.c_str()) == 0;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

bool WaitGone() {
  if (!Wait(Want::Gone)) return false;
  current.pop_back();
  return true;
}

// Runs one step; false when the steps cannot go on.
bool Run(const std::vector<std::string>& step) {
  const std::string& name = step[0];
  auto arg = [&](size_t i) { return i < step.size() ? step[i] : std::string(); };
  std::string line = name;
  for (size_t i = 1; i < step.size(); ++i) line += " \"" + step[i] + "\"";
  Log("> ", "%s", line.c_str());

  if (name == "dialog" || name == "box" || name == "window") {
    HWND found = name == "box"      ? Wait(Want::Box)
                 : name == "dialog" ? Wait(Want::Class, "DialogAsMain")
                                    : Wait(Want::Class, arg(1));
    if (!found) return false;
    current.push_back(found);
    if (name == "box" && step.size() > 1) {
      Expect("caption", TextOf(found), arg(1));
      Expect("text", TextOf(GetDlgItem(found, kBoxTextId)), arg(2));
    }
    return true;
  }
  if (name == "close-all") {
    closing = arg(1);
    return Wait(Want::CloseAll) != nullptr;
  }
  if (name == "exit") {
    if (!Wait(Want::Exit)) return false;
    Expect("exit code", std::to_string(exitCode), arg(1));
    return true;
  }
  if (name == "kill") {
    TerminateProcess(program.hProcess, 1);
    WaitForSingleObject(program.hProcess, kTimeoutMs);
    return Exited();
  }
  if (name == "signal") {
    FILE* file = fopen(arg(1).c_str(), "wb");
    return file && fclose(file) == 0;
  }
  if (name == "running") {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kTimeoutMs; Sleep(kPollMs)) {
      if (ProcessOf(arg(1))) {
        Log("ok: ", "running \"%s\"", arg(1).c_str());
        return true;
      }
    }
    Log("FAIL: ", "no process of %s after %lu ms", arg(1).c_str(), kTimeoutMs);
    return false;
  }
  if (name == "wait") {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kTimeoutMs; Sleep(kPollMs)) {
      if (GetFileAttributesA(arg(1).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    Log("FAIL: ", "no %s after %lu ms", arg(1).c_str(), kTimeoutMs);
    return false;
  }

  if (current.empty()) {
    Log("FAIL: ", "no window to work on");
    return false;
  }
  HWND window = current.back();
  HWND control = GetDlgItem(window, atoi(arg(1).c_str()));
  if (name == "caption") {
    Expect("caption", TextOf(window), arg(1));
  } else if (name == "control" || name == "no-control") {
    Expect(("control " + arg(1)).c_str(), control ? "present" : "absent",
           name == "control" ? "present" : "absent");
  } else if (name == "ok" || name == "cancel") {
    PostMessageA(window, WM_COMMAND, name == "ok" ? IDOK : IDCANCEL, 0);
    if (IsBox(window)) return WaitGone();
  } else if (name == "close") {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitGone();
  } else if (name == "rect") {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(window, &r);
    FILE* file = fopen(arg(1).c_str(), "w");
    if (!file) return false;
    fprintf(file, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    fclose(file);
  } else if (!control) {
    Log("FAIL: ", "no control %s", arg(1).c_str());
  } else if (name == "text") {
    Expect(("text of " + arg(1)).c_str(), TextOf(control), arg(2));
  } else if (name == "check") {
    Expect(("check of " + arg(1)).c_str(), std::to_string(SendMessageA(control, BM_GETCHECK, 0, 0)),
           arg(2));
  } else if (name == "set") {
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(2).c_str()));
  } else if (name == "click") {
    // An automatic check box toggles itself and then tells the dialog; a
    // posted click does not block on a message box the click opens.
    if ((GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
      SendMessageA(control, BM_CLICK, 0, 0);
    } else {
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(atoi(arg(1).c_str()), BN_CLICKED),
                   reinterpret_cast<LPARAM>(control));
    }
  } else {
    Log("FAIL: ", "unknown step %s", name.c_str());
    return false;
  }
  return true;
}

// The steps file: steps split at 0x1E, their words at 0x1F.
std::vector<std::vector<std::string>> ReadSteps(const char* path) {
  std::vector<std::vector<std::string>> steps(1, std::vector<std::string>(1));
  FILE* file = fopen(path, "rb");
  for (int c; file && (c = fgetc(file)) != EOF;) {
    if (c == 0x1E) {
      steps.emplace_back(1);
    } else if (c == 0x1F) {
      steps.back().emplace_back();
    } else {
      steps.back().back() += static_cast<char>(c);
    }
  }
  if (file) fclose(file);
  if (steps.back().size() == 1 && steps.back()[0].empty()) steps.pop_back();
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fputs("usage: setup-driver.exe STEPS_FILE LOG_FILE PROGRAM\n", stderr);
    return 2;
  }
  std::vector<std::vector<std::string>> steps = ReadSteps(argv[1]);
  logFile = fopen(argv[2], "w");
  if (!logFile) return 2;
  std::string commandLine = std::string("\"") + argv[3] + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &program)) {
    Log("FAIL: ", "cannot start %s (error %lu)", argv[3], GetLastError());
    return 1;
  }
  Log("start: ", "%s", argv[3]);
  size_t done = 0;
  while (done < steps.size() && Run(steps[done])) ++done;
  if (done < steps.size()) Log("skipped: ", "%u step(s)", unsigned(steps.size() - done - 1));
  if (done == steps.size() && Wait(Want::Exit)) {
    for (const Seen& s : seen) {
      if (!s.claimed) Log("FAIL: ", "no step waited for %s", s.what.c_str());
    }
  }
  if (!Exited()) {
    Log("FAIL: ", "the program still runs after the last step; ending it");
    TerminateProcess(program.hProcess, 1);
  }
  Log(failures ? "FAILED: " : "PASSED: ", "%d failure(s)", failures);
  fclose(logFile);
  return failures ? 1 : 0;
}
