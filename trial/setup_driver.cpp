// setup-driver: starts a Windows program and works its windows step by step,
// as a person would, writing a transcript. Runs under Wine with the null
// graphics driver (nothing is drawn, but windows, texts and controls exist)
// or with a display of its own for pictures. The tests drive setups with
// it, and `popbox try` runs a setup with its watch step.
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
// PATH (creates it) and wait PATH; kill; watch EVENTS KEY=VALUE... (works
// whatever windows come until the program exits, and writes what it saw
// to EVENTS: see Watch below).
// Only visible top-level windows of the program count, and every one must be
// waited for: a wait fails at once when another window appears, and at the
// end every window seen must have been claimed by a step. Waits poll until
// the timeout (60 s). After a failed wait the other steps are skipped; a
// failed comparison is recorded and the steps go on. Exit code 0 when all
// passed, 1 otherwise. The program starts in its own folder.
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <map>
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

bool WaitGone() {
  if (!Wait(Want::Gone)) return false;
  current.pop_back();
  return true;
}

// --- watch: whatever window comes, as a person who accepts ---------------
//
// watch EVENTS KEY=VALUE...: the setup dialog is filled as the keys say and
// confirmed; every message box is answered (a question by answer=, any
// other with OK; when the dialog is still open after it, the dialog is
// cancelled); then, when the program has exited, the processes it started
// are read. Keys: dialog=ok|cancel, answer=ok|cancel, folder=TEXT,
// programs=0|1, desktop=0|1, store-name=TEXT, store-url=TEXT, timeout=MS
// (for all of it), shots=FOLDER (before a window is worked, its rectangle
// goes to FOLDER\N.rect, and the step waits for FOLDER\N.taken).
// EVENTS gets one record per event, in UTF-8, records split by 0x1E and
// fields by 0x1F: the event's name, then names and values. Events: dialog,
// press, box, window (of another kind: closed), timeout, exit, started.

std::map<std::string, std::string> watchKeys;
FILE* events = nullptr;
DWORD watchStart = 0;
int shots = 0;

bool Late() { return GetTickCount() - watchStart >= strtoul(watchKeys["timeout"].c_str(), 0, 10); }

std::string Utf8(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(n > 0 ? n : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], n, nullptr, nullptr);
  text.resize(strlen(text.c_str()));
  return text;
}

// Window texts come in the ANSI code page.
std::string Utf8(const std::string& ansi) {
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], n);
  return Utf8(wide);
}

void Event(const std::vector<std::string>& fields) {
  static bool first = true;
  if (!first) fputc(0x1E, events);
  first = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) fputc(0x1F, events);
    fputs(fields[i].c_str(), events);
  }
  fflush(events);
}

// The picture handshake: the rectangle, then a wait until it is taken.
std::string Shot(HWND window) {
  if (watchKeys["shots"].empty()) return "";
  std::string name = watchKeys["shots"] + "\\" + std::to_string(++shots);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT r;
  GetWindowRect(window, &r);
  FILE* file = fopen((name + ".part").c_str(), "w");
  if (!file) return "";
  fprintf(file, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
  fclose(file);
  MoveFileA((name + ".part").c_str(), (name + ".rect").c_str());
  while (!Late() && GetFileAttributesA((name + ".taken").c_str()) == INVALID_FILE_ATTRIBUTES)
    Sleep(kPollMs);
  return std::to_string(shots);
}

// The processes the program started once the closing question was
// answered OK, found while it runs (a short-lived one may be gone when it
// has exited) and read from their process parameters. Earlier ones are
// Wine's own (the desktop process starts with the first window).
struct Child {
  DWORD pid;
  HANDLE process;  // null: started before the answer
  std::string exe;
  bool read;
};
std::vector<Child> children;
ULONGLONG answeredAt = ~0ull;  // when the question was answered OK (FILETIME)

ULONGLONG Ticks(const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

std::string Check(HWND dialog, int id) {
  return std::to_string(SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0));
}

void SetText(HWND control, const std::string& text) {
  DWORD_PTR result;
  SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

// The dialog as it came, then as it is confirmed.
void WorkDialog(HWND dialog) {
  std::vector<std::string> e = {"dialog", "caption", Utf8(TextOf(dialog))};
  const bool store = GetDlgItem(dialog, 1004) != nullptr;
  e.insert(e.end(), {"layout", store ? "store" : "plain"});
  const std::pair<int, const char*> texts[] = {{1003, "folder-caption"},   {1000, "folder"},
                                               {1001, "programs-label"},   {1002, "desktop-label"},
                                               {1005, "store-name-label"}, {1004, "store-name"},
                                               {1007, "store-url-label"},  {1006, "store-url"}};
  for (const auto& t : texts) {
    if (GetDlgItem(dialog, t.first))
      e.insert(e.end(), {t.second, Utf8(TextOf(GetDlgItem(dialog, t.first)))});
  }
  e.insert(e.end(), {"programs", Check(dialog, 1001), "desktop", Check(dialog, 1002)});
  e.insert(e.end(), {"shot", Shot(dialog)});
  Event(e);

  if (store) {
    SetText(GetDlgItem(dialog, 1004), watchKeys["store-name"]);
    SetText(GetDlgItem(dialog, 1006), watchKeys["store-url"]);
  }
  if (watchKeys.count("folder")) SetText(GetDlgItem(dialog, 1000), watchKeys["folder"]);
  // Ticks first, then clearing: the setup keeps one box ticked.
  for (const char* want : {"1", "0"}) {
    for (const auto& box : {std::make_pair(1001, "programs"), std::make_pair(1002, "desktop")}) {
      if (watchKeys[box.second] == want && Check(dialog, box.first) != want) {
        DWORD_PTR result;
        SendMessageTimeoutA(GetDlgItem(dialog, box.first), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000,
                            &result);
      }
    }
  }
  const bool ok = watchKeys["dialog"] != "cancel";
  e = {"press", "button", ok ? "OK" : "Cancel", "folder", Utf8(TextOf(GetDlgItem(dialog, 1000)))};
  e.insert(e.end(), {"programs", Check(dialog, 1001), "desktop", Check(dialog, 1002)});
  if (store) {
    e.insert(e.end(), {"store-name", Utf8(TextOf(GetDlgItem(dialog, 1004))), "store-url",
                       Utf8(TextOf(GetDlgItem(dialog, 1006)))});
  }
  Event(e);
  PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
}

BOOL CALLBACK AddButton(HWND child, LPARAM buttons) {
  if (ClassOf(child) != "Button" || !IsWindowVisible(child)) return TRUE;
  std::string text = TextOf(child);
  text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
  std::string& list = *reinterpret_cast<std::string*>(buttons);
  list += (list.empty() ? "" : ",") + Utf8(text);
  return TRUE;
}

// A message box: a question (it has Cancel) gets answer=, any other OK.
// Returns false when it did not go in time.
bool WorkBox(HWND box, HWND dialog) {
  std::string buttons;
  EnumChildWindows(box, AddButton, reinterpret_cast<LPARAM>(&buttons));
  const bool question = GetDlgItem(box, IDCANCEL) != nullptr;
  const bool ok = !question || watchKeys["answer"] != "cancel";
  Event({"box", "caption", Utf8(TextOf(box)), "text", Utf8(TextOf(GetDlgItem(box, kBoxTextId))),
         "buttons", buttons, "answer", ok ? "OK" : "Cancel", "shot", Shot(box)});
  HWND owner = GetWindow(box, GW_OWNER);
  if (question && ok) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    answeredAt = Ticks(now);
  }
  PostMessageA(box, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
  while (IsWindow(box)) {
    if (Late()) return false;
    Sleep(kPollMs);
  }
  // The owner's thread answers once it is back in its message loop: by then
  // the dialog has ended, or stays open (a refusal).
  DWORD_PTR result;
  if (owner) SendMessageTimeoutA(owner, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
  if (!question && dialog && IsWindow(dialog) && IsWindowVisible(dialog)) {
    Event({"press", "button", "Cancel", "after", "refusal"});
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return true;
}

void FindChildren() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID != program.dwProcessId) continue;
    bool known = false;
    for (const Child& c : children) known |= c.pid == entry.th32ProcessID;
    if (known) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                 entry.th32ProcessID);
    FILETIME created, unused;
    if (process && (!GetProcessTimes(process, &created, &unused, &unused, &unused) ||
                    Ticks(created) < answeredAt)) {
      CloseHandle(process);
      process = nullptr;
    }
    children.push_back({entry.th32ProcessID, process, Utf8(entry.szExeFile), !process});
  }
  CloseHandle(snapshot);
}

// RTL_USER_PROCESS_PARAMETERS of a 32-bit process, up to its command line.
struct ProcessParameters32 {
  ULONG maximumLength, length, flags, debugFlags;
  DWORD console, consoleFlags, input, output, error;
  UNICODE_STRING currentDirectory;
  DWORD currentDirectoryHandle;
  UNICODE_STRING dllPath, imagePath, commandLine;
};
static_assert(sizeof(void*) == 4 && offsetof(ProcessParameters32, commandLine) == 0x40,
              "the 32-bit layout");

std::string ReadString(HANDLE process, const UNICODE_STRING& s) {
  std::wstring text(s.Length / 2, L'\0');
  SIZE_T got = 0;
  if (s.Length && !ReadProcessMemory(process, s.Buffer, &text[0], s.Length, &got)) return "";
  return Utf8(text);
}

// Emits the child's event once its parameters can be read (a process that
// has just been created may not have them yet).
bool ReadChild(Child& child) {
  typedef LONG(WINAPI * QueryFn)(HANDLE, int, void*, ULONG, ULONG*);
  static QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic = {};
  DWORD parametersAt = 0;
  ProcessParameters32 p = {};
  SIZE_T got = 0;
  if (!query || query(child.process, 0, &basic, sizeof basic, nullptr) != 0 ||
      !ReadProcessMemory(child.process, reinterpret_cast<char*>(basic.PebBaseAddress) + 0x10,
                         &parametersAt, sizeof parametersAt, &got) ||
      !parametersAt ||
      !ReadProcessMemory(child.process, reinterpret_cast<void*>(parametersAt), &p, sizeof p,
                         &got) ||
      !p.currentDirectory.Length) {
    return false;
  }
  char image[MAX_PATH * 2] = "";
  DWORD size = sizeof image;
  QueryFullProcessImageNameA(child.process, 0, image, &size);
  std::string folder = ReadString(child.process, p.currentDirectory);
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  Event({"started", "program", Utf8(image), "command-line",
         ReadString(child.process, p.commandLine), "folder", folder});
  return child.read = true;
}

bool Watch(const std::vector<std::string>& step) {
  events = fopen(step.size() > 1 ? step[1].c_str() : "", "wb");
  if (!events) {
    Log("FAIL: ", "cannot write the events file");
    return false;
  }
  watchKeys["timeout"] = std::to_string(kTimeoutMs);
  for (size_t i = 2; i < step.size(); ++i) {
    size_t equals = step[i].find('=');
    watchKeys[step[i].substr(0, equals)] =
        equals == std::string::npos ? "" : step[i].substr(equals + 1);
  }
  watchStart = GetTickCount();
  HWND dialog = nullptr;
  std::vector<HWND> ending;  // dialogs that showed a box before they appeared
  bool inTime = true;
  for (;; Sleep(kPollMs)) {
    FindChildren();
    EnumWindows(Collect, 0);
    Seen* next = nullptr;
    for (Seen& s : seen) {
      if (!s.claimed && !next && IsWindow(s.hwnd) && IsWindowVisible(s.hwnd)) next = &s;
    }
    if (next) {
      next->claimed = true;
      Log("found: ", "%s", next->what.c_str());
      HWND hwnd = next->hwnd;
      if (IsBox(hwnd)) {
        HWND owner = GetWindow(hwnd, GW_OWNER);
        if (owner && owner != dialog) ending.push_back(owner);
        inTime = WorkBox(hwnd, dialog);
      } else if (next->className == "DialogAsMain" &&
                 std::find(ending.begin(), ending.end(), hwnd) == ending.end()) {
        dialog = hwnd;
        WorkDialog(hwnd);
      } else if (next->className != "DialogAsMain") {
        Event({"window", "class", Utf8(next->className), "caption", Utf8(TextOf(hwnd))});
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
      }
    }
    if (!inTime || Late()) {
      std::string showing;
      for (const Seen& s : seen) {
        if (IsWindow(s.hwnd) && IsWindowVisible(s.hwnd))
          showing += (showing.empty() ? "" : "; ") + Utf8(s.what);
      }
      Event({"timeout", "showing", showing});
      Log("FAIL: ", "timed out after %s ms", watchKeys["timeout"].c_str());
      return false;
    }
    if (!next && Exited()) break;
  }
  Event({"exit", "code", std::to_string(exitCode)});
  // Children the program left: each read once its parameters are there,
  // or given up when it has exited meanwhile.
  FindChildren();
  for (bool pending = true; pending && !Late(); Sleep(kPollMs)) {
    pending = false;
    for (Child& c : children) {
      if (c.read || ReadChild(c)) continue;
      if (WaitForSingleObject(c.process, 0) == WAIT_OBJECT_0) {
        Event({"started", "program", c.exe, "exited", "yes"});
        c.read = true;
      } else {
        pending = true;
      }
    }
  }
  for (const Child& c : children) {
    if (c.process) CloseHandle(c.process);
  }
  fclose(events);
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
  if (name == "watch") return Watch(step);
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
    // Asked before the post: a box may be gone by the time the post returns,
    // and then no longer looks like one, and the next step would work on it.
    bool box = IsBox(window);
    PostMessageA(window, WM_COMMAND, name == "ok" ? IDOK : IDCANCEL, 0);
    if (box) return WaitGone();
  } else if (name == "close") {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitGone();
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
  std::string folder = argv[3];
  folder.resize(folder.find_last_of("\\/") == std::string::npos ? 0 : folder.find_last_of("\\/"));
  if (folder.size() == 2) folder += '\\';  // a drive's root
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &program)) {
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
