// The program's entry object: reads the command line, chooses the language
// of the interface and runs the wizard.
#ifndef QXR8_APP_INSTALLER_APP_H_
#define QXR8_APP_INSTALLER_APP_H_

#include <string>

#include "platform/wstring.h"
#include "res/string_table.h"

// What the command line asks for.
struct StartOptions {
  bool useCurrentDir = false;  // "usecwd" as the first argument
  bool silentMode = false;     // -S, /s, -silent, ...
  LangIdType langId = 0;       // from -L<code>; 0 when none or unknown
  wstring langCode = u"en";    // the code of langId when that is known
};

// The option scan: "usecwd" only as argv[1]; then every argument that
// starts with "-" or "/" is looked at by its second character (ASCII, any
// case): S sets silent mode, L takes the rest as a language code and ends
// the scan whether or not the code is known; all else is ignored. Pure;
// any thread.
StartOptions scan_command_line(int argc, char** argv);

// The language of a locale name as setlocale reports it: its first two
// bytes looked up as a code ("uk_UA.UTF-8" gives Ukrainian, "C" nothing).
// 0 for a null name or an unknown code. Any thread.
LangIdType lang_from_locale_name(const char* localeName);

// The language of the interface, in order of precedence: a known -L code
// already in `options`; else the environment's locale, which
// `environmentLocale` is asked for (setlocale's answer, possibly null) only
// then; else English. Sets options.langId and, when the locale decides,
// options.langCode. Returns options.langId, never 0. Main thread (the
// query may change the process locale).
LangIdType choose_language(StartOptions& options, const char* (*environmentLocale)());

class CInstallerApp {
 public:
  // Keeps the argument vector (not copied; it outlives the object).
  CInstallerApp(int argc, char** argv) : argc(argc), argv(argv), langId(0) {}

  // Runs the whole program: options, language (option, else the
  // environment's locale, else English), title, then the wizard. Returns
  // the program's exit status (CInstallerDlg::exitStatus) when the wizard
  // has ended. Main thread, once.
  int InitInstance();

  int argc;
  char** argv;
  LangIdType langId;
  wstring appTitle;
};

#endif  // QXR8_APP_INSTALLER_APP_H_
