#include "app/installer_app.h"

#include <clocale>
#include <cstring>
#include <memory>

#include "app/installer_dlg.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"

namespace {

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

StartOptions scan_command_line(int argc, char** argv) {
  StartOptions options;
  int first = 1;
  if (argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], "usecwd") == 0) {
    options.useCurrentDir = true;
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || (arg[0] != '-' && arg[0] != '/')) continue;
    const char letter = ascii_upper(arg[1]);
    if (letter == 'S') {
      options.silentMode = true;
    } else if (letter == 'L') {
      const std::string code(arg + 2);
      options.langId = get_lang_id_by_lang_code(code);
      if (options.langId != 0) options.langCode = widen_lib(code);
      break;
    }
  }
  return options;
}

LangIdType lang_from_locale_name(const char* localeName) {
  if (localeName == nullptr) return 0;
  std::string code(localeName);
  if (code.size() > 2) code.resize(2);
  return get_lang_id_by_lang_code(code);
}

LangIdType choose_language(StartOptions& options, const char* (*environmentLocale)()) {
  if (options.langId == 0) {
    const char* locale = environmentLocale();
    options.langId = lang_from_locale_name(locale);
    // A known code has two letters, so the name has at least two bytes.
    if (options.langId != 0) options.langCode = widen_lib(std::string(locale, 2));
  }
  if (options.langId == 0) options.langId = kLangEnglish;
  return options.langId;
}

int CInstallerApp::InitInstance() {
  langId = 0;
  StartOptions options = scan_command_line(argc, argv);
  langId = choose_language(options, [] {
    return static_cast<const char*>(std::setlocale(LC_ALL, ""));
  });
  set_resource_lang(langId);
  appTitle = LoadResString("IDR_MAINFRAME");

  std::unique_ptr<CInstallerDlg> dialog(new CInstallerDlg(
      argc, argv, options.silentMode, to_ui_text(appTitle), options.langCode,
      options.useCurrentDir));
  dialog->DoModal();
  return dialog->exitStatus;
}
