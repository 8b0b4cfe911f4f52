// setup-driver: starts a Windows GUI program and drives its windows from a
// small script of steps, the way a person would, and writes a transcript.
// Runs under Wine with the null graphics driver: nothing is drawn, but the
// windows, their texts and their controls exist and answer messages.
//
//   setup-driver.exe [--log FILE] [--timeout SECONDS] [--script FILE]
//                    PROGRAM [ARGS...] [-- STEP...]
//
// Steps come after "--" on the command line, or from --script FILE (one or
// more steps a line, words split at blanks, "double quotes" group words,
// # starts a comment), or both (the file's steps run first). Texts accept
// the escapes \n \r \t \\ \" and \xHH; a backslash before any other
// character stays as it is (C:\Apps), but C:\\new needs the double one.
//
// Only visible top-level windows of the program count. Window steps (each
// waits, polling, until --timeout seconds have passed, default 30):
//   wait-box                  a message box (#32770 with a Static 65535) that
//                             no step has waited for yet
//   expect-box CAPTION TEXT   wait-box, then compare its caption and text
//   wait-window CLASS         a window of that class no step has waited for
//   wait-dialog               wait-window DialogAsMain
//   wait-gone                 the current window is destroyed
//   close-any CLASS           until the program exits, close (WM_CLOSE) every
//                             window of CLASS that appears
// The window a wait found becomes the current one; when it is closed by a
// step below, the window that was current before it is current again.
//
// Steps on the current window:
//   expect-caption TEXT       its caption
//   expect-text ID TEXT       the text of control ID (WM_GETTEXT)
//   expect-check ID STATE     BM_GETCHECK of control ID: 0/1/2, or
//                             unchecked/checked/indeterminate
//   expect-control ID         control ID exists
//   expect-no-control ID      control ID does not exist
//   set-text ID TEXT          WM_SETTEXT to control ID
//   click ID                  auto check boxes and radio buttons get BM_CLICK
//                             (they really toggle); other buttons are posted
//                             WM_COMMAND BN_CLICKED, so that a click that
//                             opens a message box does not block the driver
//   press-ok, press-cancel    posts WM_COMMAND IDOK or IDCANCEL; on a message
//                             box also waits until the box is gone
//   close                     posts WM_CLOSE and waits until the window is gone
//
// Steps that meet a script running beside the driver (a test that changes
// files between two presses of OK, a screenshot taken while a window waits):
//   signal-file PATH          creates PATH (empty), telling the script that
//                             the driver got here
//   wait-file PATH            waits until PATH exists (the script's answer);
//                             fails on the timeout, as windows waits do
//   save-rect PATH            has the current window painted, then writes its
//                             rectangle (GetWindowRect) to PATH as
//                             WIDTHxHEIGHT+X+Y, the geometry that ImageMagick
//                             crops with
//
// Process steps:
//   expect-exit CODE          the program exits with CODE
//   expect-no-more-windows    no window appears that the script did not wait
//                             for, up to the program's exit
//   expect-box-count N        exactly N message boxes were seen in the run
//   kill                      ends the program at once
//
// Any wait also fails at once when a visible window appears that it does
// not wait for (a message box while waiting for the program's exit, say):
// a failing test then ends quickly and says what it saw. After a failed
// wait the remaining steps are skipped. A failed comparison is recorded and
// the script goes on. At the end a program that still runs is ended and
// counts as a failure. Transcript lines begin with the milliseconds since
// the driver started. Exit code: 0 when every step passed, 1 when any
// failed, 2 for a usage error (the script is checked before the program
// starts) or a program that cannot be started.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const char* const kBoxClass = "#32770";
const int kBoxTextId = 65535;
const DWORD kPollMs = 10;
const UINT kSendTimeoutMs = 5000;

FILE* logFile = nullptr;
int failures = 0;
DWORD stepTimeoutMs = 30000;
DWORD startTick = 0;

void Stamp() { fprintf(logFile, "%6lu ", static_cast<unsigned long>(GetTickCount() - startTick)); }

void Log(const char* format, ...) {
  Stamp();
  va_list args;
  va_start(args, format);
  vfprintf(logFile, format, args);
  va_end(args);
  fputc('\n', logFile);
  fflush(logFile);
}

void Fail(const char* format, ...) {
  ++failures;
  Stamp();
  fputs("FAIL: ", logFile);
  va_list args;
  va_start(args, format);
  vfprintf(logFile, format, args);
  va_end(args);
  fputc('\n', logFile);
  fflush(logFile);
}

// Shows a text with its control characters escaped, so that a transcript
// line compares with the script's own spelling.
std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    char e = text[++i];
    if (e == 'n') {
      out += '\n';
    } else if (e == 'r') {
      out += '\r';
    } else if (e == 't') {
      out += '\t';
    } else if (e == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else if (e == '\\' || e == '"') {
      out += e;
    } else {
      // Not an escape: a path like C:\Apps stays as it is.
      out += '\\';
      out += e;
    }
  }
  return out;
}

// Splits a script file into words. Backslash escapes are kept for Unescape,
// except that they protect a quote or blank from ending the word.
bool ReadScriptFile(const char* path, std::vector<std::string>* words) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  fclose(file);
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (static_cast<unsigned char>(c) <= ' ') {
      ++i;
    } else {
      std::string word;
      bool quoted = false;
      while (i < text.size()) {
        c = text[i];
        if (!quoted && static_cast<unsigned char>(c) <= ' ') break;
        if (c == '"') {
          quoted = !quoted;
          ++i;
        } else if (c == '\\' && i + 1 < text.size()) {
          word += c;
          word += text[i + 1];
          i += 2;
        } else {
          word += c;
          ++i;
        }
      }
      words->push_back(word);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The program under test and its windows.

PROCESS_INFORMATION program = {};
bool programExited = false;
DWORD programExitCode = 0;

struct SeenWindow {
  HWND hwnd;
  std::string className;
  std::string caption;
  std::string boxText;  // the Static 65535 of a message box
  bool isBox;
  bool claimed;  // a step waited for it (or closed it)
};
std::vector<SeenWindow> seen;
std::vector<HWND> currentStack;

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  // WM_GETTEXT reaches the control, so that edits answer with their
  // contents; GetWindowText would not ask a window of another process.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return "";
  }
  std::vector<char> buffer(length + 2, 0);
  DWORD_PTR got = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &got);
  return std::string(buffer.data());
}

bool IsMessageBox(HWND hwnd) {
  return ClassOf(hwnd) == kBoxClass && GetDlgItem(hwnd, kBoxTextId) != nullptr;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == program.dwProcessId && IsWindowVisible(hwnd)) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  }
  return TRUE;
}

// Records every visible top-level window of the program not seen before,
// with its texts as they were when it was first seen.
void PollWindows() {
  std::vector<HWND> now;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&now));
  for (HWND hwnd : now) {
    // A known window stays known while it is being destroyed (listed by
    // the enumeration, gone now): it is not a new one. Handles carry a
    // generation count, so a new window does not soon get an old value.
    bool known = false;
    for (const SeenWindow& w : seen) known = known || w.hwnd == hwnd;
    if (known) continue;
    SeenWindow w;
    w.hwnd = hwnd;
    w.className = ClassOf(hwnd);
    w.caption = TextOf(hwnd);
    w.isBox = IsMessageBox(hwnd);
    if (w.isBox) w.boxText = TextOf(GetDlgItem(hwnd, kBoxTextId));
    w.claimed = false;
    seen.push_back(w);
  }
}

void DescribeWindow(const char* what, const SeenWindow& w) {
  if (w.isBox) {
    Log("%s: box %s %s", what, Quote(w.caption).c_str(), Quote(w.boxText).c_str());
  } else {
    Log("%s: window class %s caption %s", what, Quote(w.className).c_str(),
        Quote(w.caption).c_str());
  }
}

bool PollExit() {
  if (!programExited && WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0) {
    GetExitCodeProcess(program.hProcess, &programExitCode);
    programExited = true;
    Log("exited: %lu", static_cast<unsigned long>(programExitCode));
  }
  return programExited;
}

// What a wait is looking for.
enum class WaitFor { kBox, kClass, kExit, kGone, kCloseAll };

struct WaitResult {
  bool ok;
  size_t index;  // into `seen`, for kBox and kClass
};

// The one polling loop. A window that no step has waited for and that this
// wait does not look for ends it with a failure; so do the timeout and,
// unless the wait is for the exit, the program's exit.
WaitResult Wait(const char* step, WaitFor what, const std::string& className = "") {
  DWORD start = GetTickCount();
  for (;;) {
    // Gone is tested first: the next window (the dialog's next message box,
    // say) may already be there, and belongs to the next step.
    if (what == WaitFor::kGone && !IsWindow(currentStack.back())) return {true, 0};
    PollWindows();
    for (size_t i = 0; i < seen.size(); ++i) {
      SeenWindow& w = seen[i];
      if (w.claimed || !IsWindow(w.hwnd)) continue;
      bool wanted =
          (what == WaitFor::kBox && w.isBox) ||
          ((what == WaitFor::kClass || what == WaitFor::kCloseAll) && w.className == className);
      if (wanted && what == WaitFor::kCloseAll) {
        w.claimed = true;
        DescribeWindow("closing", w);
        PostMessageA(w.hwnd, WM_CLOSE, 0, 0);
        continue;
      }
      if (wanted) {
        w.claimed = true;
        return {true, i};
      }
      DescribeWindow("unexpected", w);
      Fail("%s: a window appeared that the step does not wait for", step);
      return {false, 0};
    }
    bool exited = PollExit();
    if ((what == WaitFor::kExit || what == WaitFor::kCloseAll) && exited) return {true, 0};
    if (exited && what != WaitFor::kGone) {
      Fail("%s: the program exited while waiting", step);
      return {false, 0};
    }
    if (GetTickCount() - start > stepTimeoutMs) {
      Fail("%s: timed out after %lu ms", step, static_cast<unsigned long>(stepTimeoutMs));
      return {false, 0};
    }
    Sleep(kPollMs);
  }
}

// ---------------------------------------------------------------------------
// Steps.

struct Step {
  std::string name;
  std::vector<std::string> args;  // unescaped
};

// Groups the words into steps, each with as many arguments as it takes.
// A fault in the script is told on stderr before the program starts.
bool ParseSteps(const std::vector<std::string>& words, std::vector<Step>* steps) {
  struct Arity {
    const char* name;
    size_t count;
  };
  static const Arity kSteps[] = {
      {"wait-box", 0},
      {"expect-box", 2},
      {"wait-window", 1},
      {"wait-dialog", 0},
      {"wait-gone", 0},
      {"close-any", 1},
      {"expect-caption", 1},
      {"expect-text", 2},
      {"expect-check", 2},
      {"expect-control", 1},
      {"expect-no-control", 1},
      {"set-text", 2},
      {"click", 1},
      {"press-ok", 0},
      {"press-cancel", 0},
      {"close", 0},
      {"expect-exit", 1},
      {"expect-no-more-windows", 0},
      {"expect-box-count", 1},
      {"kill", 0},
      {"signal-file", 1},
      {"wait-file", 1},
      {"save-rect", 1},
  };
  for (size_t i = 0; i < words.size();) {
    const Arity* arity = nullptr;
    for (const Arity& a : kSteps) {
      if (words[i] == a.name) arity = &a;
    }
    if (!arity) {
      fprintf(stderr, "setup-driver: unknown step %s\n", Quote(words[i]).c_str());
      return false;
    }
    if (i + arity->count >= words.size()) {
      fprintf(stderr, "setup-driver: %s needs %u argument(s)\n", arity->name,
              static_cast<unsigned>(arity->count));
      return false;
    }
    Step step;
    step.name = words[i++];
    for (size_t k = 0; k < arity->count; ++k) step.args.push_back(Unescape(words[i++]));
    steps->push_back(step);
  }
  return true;
}

bool ParseNumber(const std::string& text, long* value) {
  char* end = nullptr;
  *value = strtol(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0';
}

// Writes the whole file under another name first and renames it, so that
// a script polling for PATH never reads it half written.
bool WriteTextFile(const char* path, const char* text) {
  std::string partial = std::string(path) + ".partial";
  FILE* file = fopen(partial.c_str(), "wb");
  if (!file) return false;
  bool ok = fputs(text, file) >= 0;
  ok = fclose(file) == 0 && ok;
  return ok && MoveFileExA(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

HWND Current(const char* step) {
  if (currentStack.empty()) {
    Fail("%s: no current window (wait for one first)", step);
    return nullptr;
  }
  return currentStack.back();
}

HWND Control(const char* step, long id) {
  HWND window = Current(step);
  if (!window) return nullptr;
  HWND control = GetDlgItem(window, static_cast<int>(id));
  if (!control) Fail("%s: no control %ld", step, id);
  return control;
}

void Expect(const char* what, const std::string& got, const std::string& want) {
  if (got == want) {
    Log("ok: %s %s", what, Quote(got).c_str());
  } else {
    Fail("%s is %s, expected %s", what, Quote(got).c_str(), Quote(want).c_str());
  }
}

// Waits until the current window is destroyed and makes the one before it
// current again.
bool WaitGone(const char* step) {
  if (!Current(step)) return false;
  if (!Wait(step, WaitFor::kGone).ok) return false;
  currentStack.pop_back();
  Log("gone");
  return true;
}

// Runs one step. Returns false when the script cannot go on.
bool RunStep(const Step& current) {
  const std::string& step = current.name;
  const std::vector<std::string>& args = current.args;
  const char* name = step.c_str();
  std::string line = step;
  for (const std::string& a : args) line += " " + Quote(a);
  Log("> %s", line.c_str());

  long number = 0;
  if (step == "wait-box" || step == "expect-box") {
    WaitResult r = Wait(name, WaitFor::kBox);
    if (!r.ok) return false;
    const SeenWindow& w = seen[r.index];
    DescribeWindow("found", w);
    currentStack.push_back(w.hwnd);
    if (step == "expect-box") {
      Expect("box caption", TextOf(w.hwnd), args[0]);
      Expect("box text", TextOf(GetDlgItem(w.hwnd, kBoxTextId)), args[1]);
    }
  } else if (step == "wait-window" || step == "wait-dialog") {
    std::string className = step == "wait-dialog" ? "DialogAsMain" : args[0];
    WaitResult r = Wait(name, WaitFor::kClass, className);
    if (!r.ok) return false;
    DescribeWindow("found", seen[r.index]);
    currentStack.push_back(seen[r.index].hwnd);
  } else if (step == "wait-gone") {
    return WaitGone(name);
  } else if (step == "close-any") {
    return Wait(name, WaitFor::kCloseAll, args[0]).ok;
  } else if (step == "expect-caption") {
    HWND window = Current(name);
    if (!window) return false;
    Expect("caption", TextOf(window), args[0]);
  } else if (step == "expect-text") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad id", name), false;
    HWND control = Control(name, number);
    if (control) Expect(("text of " + args[0]).c_str(), TextOf(control), args[1]);
  } else if (step == "expect-check") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad id", name), false;
    long want = 0;
    if (args[1] == "checked") {
      want = BST_CHECKED;
    } else if (args[1] == "unchecked") {
      want = BST_UNCHECKED;
    } else if (args[1] == "indeterminate") {
      want = BST_INDETERMINATE;
    } else if (!ParseNumber(args[1], &want)) {
      return Fail("%s: bad state", name), false;
    }
    HWND control = Control(name, number);
    if (!control) return true;
    DWORD_PTR state = 0;
    SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state);
    if (static_cast<long>(state) == want) {
      Log("ok: check of %ld is %ld", number, want);
    } else {
      Fail("check of %ld is %ld, expected %ld", number, static_cast<long>(state), want);
    }
  } else if (step == "expect-control" || step == "expect-no-control") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad id", name), false;
    HWND window = Current(name);
    if (!window) return false;
    bool exists = GetDlgItem(window, static_cast<int>(number)) != nullptr;
    if (exists == (step == "expect-control")) {
      Log("ok: control %ld %s", number, exists ? "exists" : "does not exist");
    } else {
      Fail("control %ld %s", number, exists ? "exists" : "does not exist");
    }
  } else if (step == "set-text") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad id", name), false;
    HWND control = Control(name, number);
    if (!control) return true;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
      Fail("%s: WM_SETTEXT was not answered", name);
    }
  } else if (step == "click") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad id", name), false;
    HWND control = Control(name, number);
    if (!control) return true;
    LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    bool toggles = _stricmp(ClassOf(control).c_str(), "Button") == 0 &&
                   (type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON);
    if (toggles) {
      // The box toggles itself and then notifies the dialog.
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutA(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result)) {
        Fail("%s: BM_CLICK was not answered", name);
      }
    } else {
      PostMessageA(Current(name), WM_COMMAND, MAKEWPARAM(number, BN_CLICKED),
                   reinterpret_cast<LPARAM>(control));
    }
  } else if (step == "press-ok" || step == "press-cancel") {
    HWND window = Current(name);
    if (!window) return false;
    PostMessageA(window, WM_COMMAND, step == "press-ok" ? IDOK : IDCANCEL, 0);
    if (IsMessageBox(window)) return WaitGone(name);
  } else if (step == "close") {
    HWND window = Current(name);
    if (!window) return false;
    PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitGone(name);
  } else if (step == "expect-exit") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad code", name), false;
    if (!Wait(name, WaitFor::kExit).ok) return false;
    if (programExitCode == static_cast<DWORD>(number)) {
      Log("ok: exit code %ld", number);
    } else {
      Fail("exit code is %lu, expected %ld", static_cast<unsigned long>(programExitCode), number);
    }
  } else if (step == "expect-no-more-windows") {
    if (!Wait(name, WaitFor::kExit).ok) return false;
    bool clean = true;
    for (const SeenWindow& w : seen) {
      if (!w.claimed) {
        DescribeWindow("unexpected", w);
        clean = false;
      }
    }
    if (clean) {
      Log("ok: no other window");
    } else {
      Fail("windows appeared that no step waited for");
    }
  } else if (step == "expect-box-count") {
    if (!ParseNumber(args[0], &number)) return Fail("%s: bad count", name), false;
    PollWindows();
    long boxes = 0;
    for (const SeenWindow& w : seen) boxes += w.isBox ? 1 : 0;
    if (boxes == number) {
      Log("ok: %ld message box(es)", boxes);
    } else {
      Fail("%ld message box(es) seen, expected %ld", boxes, number);
    }
  } else if (step == "signal-file") {
    if (!WriteTextFile(args[0].c_str(), ""))
      return Fail("%s: cannot write %s", name, args[0].c_str()), false;
  } else if (step == "wait-file") {
    DWORD start = GetTickCount();
    while (GetFileAttributesA(args[0].c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount() - start > stepTimeoutMs) {
        Fail("%s: timed out after %lu ms", name, static_cast<unsigned long>(stepTimeoutMs));
        return false;
      }
      Sleep(kPollMs);
    }
  } else if (step == "save-rect") {
    HWND window = Current(name);
    if (!window) return false;
    // Paint it now, so that a picture taken next shows it whole.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    RECT r;
    if (!GetWindowRect(window, &r)) return Fail("%s: GetWindowRect failed", name), false;
    char geometry[64];
    snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top,
             r.left, r.top);
    Log("rect: %s", geometry);
    if (!WriteTextFile(args[0].c_str(), (std::string(geometry) + "\n").c_str()))
      return Fail("%s: cannot write %s", name, args[0].c_str()), false;
  } else if (step == "kill") {
    if (!PollExit()) {
      TerminateProcess(program.hProcess, 1);
      WaitForSingleObject(program.hProcess, stepTimeoutMs);
      PollExit();
    }
  }
  return true;
}

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  // The rules of CommandLineToArgvW: backslashes double only before a quote.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

int Usage() {
  fputs(
      "usage: setup-driver.exe [--log FILE] [--timeout SECONDS] [--script FILE]\n"
      "                        PROGRAM [ARGS...] [-- STEP...]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  startTick = GetTickCount();
  const char* logPath = nullptr;
  const char* scriptPath = nullptr;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0 && strcmp(argv[i], "--") != 0; i += 2) {
    if (i + 1 >= argc) return Usage();
    if (strcmp(argv[i], "--log") == 0) {
      logPath = argv[i + 1];
    } else if (strcmp(argv[i], "--script") == 0) {
      scriptPath = argv[i + 1];
    } else if (strcmp(argv[i], "--timeout") == 0) {
      stepTimeoutMs = static_cast<DWORD>(atof(argv[i + 1]) * 1000);
    } else {
      return Usage();
    }
  }
  if (i >= argc || strcmp(argv[i], "--") == 0) return Usage();
  std::string commandLine;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += QuoteArgument(argv[i]);
  }
  std::vector<std::string> words;
  if (scriptPath && !ReadScriptFile(scriptPath, &words)) {
    fprintf(stderr, "setup-driver: cannot read %s\n", scriptPath);
    return 2;
  }
  for (++i; i < argc; ++i) words.push_back(argv[i]);
  std::vector<Step> steps;
  if (!ParseSteps(words, &steps)) return 2;

  logFile = logPath ? fopen(logPath, "w") : stdout;
  if (!logFile) {
    fprintf(stderr, "setup-driver: cannot write %s\n", logPath);
    return 2;
  }
  Log("start: %s", commandLine.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &program)) {
    Log("FAIL: cannot start the program (error %lu)", static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  size_t done = 0;
  while (done < steps.size() && RunStep(steps[done])) ++done;
  if (done < steps.size()) {
    Log("skipped: %u step(s) after the failed one", static_cast<unsigned>(steps.size() - done - 1));
  }
  if (!PollExit()) {
    // Leave no program behind, and tell: a test should end the run.
    Fail("the program still runs at the end of the script; ending it");
    TerminateProcess(program.hProcess, 1);
    WaitForSingleObject(program.hProcess, stepTimeoutMs);
  }
  CloseHandle(program.hThread);
  CloseHandle(program.hProcess);
  Log("%s: %d failure(s)", failures ? "FAILED" : "PASSED", failures);
  if (logFile != stdout) fclose(logFile);
  return failures ? 1 : 0;
}
