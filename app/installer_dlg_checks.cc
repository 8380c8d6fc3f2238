// The checks made before the first page, the catalog check on the catalog
// page, the registration after a success and the work of the Finish button.
#include <glib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/description_viewer.h"
#include "app/installer_dlg.h"
#include "app/message_box.h"
#include "app/ui_text.h"
#include "config/catalog_registration.h"
#include "config/config_file.h"
#include "config/config_locations.h"
#include "config/write_permission.h"
#include "install/kit_signature.h"
#include "install/preinstall_checks.h"
#include "install/signer_continuity.h"
#include "install/trusted_keys.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"
#include "res/string_table.h"

namespace {

constexpr char kKitFileName[] = "/qxr8.xdk";
constexpr char kExecutableLink[] = "/proc/self/exe";
constexpr size_t kLinkBufferSize = 260;
// Longest executable path looked at; far beyond any real installation.
constexpr size_t kLinkBufferLimit = 1 << 16;

// The executable's path. The link is read into a 260-byte buffer first; a
// link that fills it may have been cut, so it is read again into a larger
// one until it fits, so that a deep installation directory still works.
std::string executable_path() {
  for (size_t size = kLinkBufferSize; size <= kLinkBufferLimit; size *= 4) {
    std::vector<char> buffer(size, '\0');
    const ssize_t length = readlink(kExecutableLink, buffer.data(), buffer.size());
    if (length <= 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
  }
  return std::string();
}

// "FOLDER: NEEDED needed, FREE free." in the wizard's language, with the
// sizes in the toolkit's units, translated where it has them.
wstring space_needed_text(uint64_t neededBytes, uint64_t freeBytes) {
  wstring folder;
  FileSystem::GetTempPath(folder);
  gchar* needed = g_format_size(neededBytes);
  gchar* available = g_format_size(freeBytes);
  const wstring text = fill_in(LoadResString("IDS_SPACE_NEEDED"),
                               {folder, utf8_to_wide(needed), utf8_to_wide(available)});
  g_free(needed);
  g_free(available);
  return text;
}

// Who signed the copy `catalog` holds and who signed the kit now, one
// line each; a signer nobody here trusts gets the welcome page's sentence
// as well.
wstring signer_change_detail(const SignerChange& change, const wstring& catalog) {
  wstring detail = fill_in(LoadResString("IDS_SIGNER_RECORDED"),
                           {catalog, recorded_signer_text(change)}) +
                   u"\n";
  if (change.now.kind == KitOrigin::Kind::kUnsigned) {
    return detail + LoadResString("IDS_KIT_UNSIGNED");
  }
  detail += fill_in(LoadResString("IDS_SIGNER_NOW"), {widen_lib(key_id_text(change.now.keyId))});
  if (change.now.kind == KitOrigin::Kind::kUnknownSigner) {
    detail += u"\n" + LoadResString("IDS_KIT_UNKNOWN_SIGNER");
  }
  return detail;
}

bool contains(const wstring& text, const char16_t* part) {
  return text.find(part) != wstring::npos;
}

}  // namespace

wstring clean_default_catalog(const wstring& path) {
  wstring result = path;
  if (contains(result, u"http://")) result.clear();
  if (contains(result, u"https://")) result.clear();
  if (contains(result, u"ftp://")) result.clear();
  const size_t file = result.find(u"file://");
  if (file != wstring::npos) result.erase(file, 7);
  replace_all(result, u"\n", u"");
  replace_all(result, u"\r", u"");
  return result;
}

wstring description_full_path(const wstring& catalog, const wstring& description) {
  wstring relative = description;
  replace_all(relative, kBadPathSeparator, kPathSeparator);
  const size_t start = relative.find_first_not_of(kPathSeparatorChar);
  if (start == wstring::npos) return wstring();
  wstring full = catalog;
  replace_all(full, kBadPathSeparator, kPathSeparator);
  while (!full.empty() && full.back() == kPathSeparatorChar) full.pop_back();
  return full + kPathSeparator + relative.substr(start);
}

wstring CInstallerDlg::getXdkFullPath() const {
  std::string directory;
  if (useCurrentDir) {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (!cwd) return wstring();
    directory = cwd.get();
  } else {
    const std::string exe = executable_path();
    if (exe.empty()) return wstring();
    const size_t slash = exe.rfind('/');
    directory = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  }
  return from_system_path(directory + kKitFileName);
}

bool CInstallerDlg::OnInitDialog() {
  const wstring path = getXdkFullPath();
  if (!kit_exists(path)) {
    // Where the kit was looked for and why it was not found there; an
    // empty path means the wizard's own folder could not be found.
    messageBox(this, LoadResString("IDS_ERROR_NOSOURCE"),
               path.empty() ? wstring() : describe_status(kit_absence(path)), kMsgBoxErrorOk);
    return false;
  }
  kitPath = path;

  try {
    read_catalog_registration(tmpltsList, hasBaseCfg, listFromBaseCfg);
  } catch (const std::exception&) {
    // Only exhausted memory gets here; the wizard goes on without the
    // launcher's list and proposes the default catalog.
    tmpltsList.clear();
  }
  for (const wstring& catalog : tmpltsList) {
    if (isWritePermitted(catalog)) {
      catalogPath = catalog;
      break;
    }
  }
  if (catalogPath.empty()) catalogPath = r8_app_data_dir(false) + u"tmplts" + kPathSeparator;
  catalogPath = clean_default_catalog(catalogPath);

  uint64_t freeBytes = 0;
  uint64_t neededBytes = 0;
  if (!temporary_space_suffices(kitPath, freeBytes, neededBytes)) {
    messageBox(this, LoadResString("IDS_ERROR_NOSPACE"), space_needed_text(neededBytes, freeBytes),
               kMsgBoxErrorOk);
    return false;
  }
  // Judged before a byte of the kit is inflated, proved by the bytes the
  // reader inflates.
  TrustedKeys keys;
  Status judged = keys.load(TrustSettings::forThisProcess());
  if (judged.ok()) judged = kitOriginCheck.begin(kitPath, keys);
  if (!judged.ok()) {
    refuseUntrustedKit(judged);
    return false;
  }
  kitReader.file().setOriginCheck(&kitOriginCheck);
  unsigned code = kErrorSuccess;
  switch (open_kit(kitPath, kitReader, code)) {
    case KitOpenResult::kOpened:
      kitOrigin = kitOriginCheck.origin();
      return true;
    // A kit that would fill the temporary directory is not damaged: the
    // user can make room and try again.
    case KitOpenResult::kNoSpace:
      messageBox(this, LoadResString("IDS_ERROR_NOSPACE"), describe_status(kitReader.lastStatus()),
                 kMsgBoxErrorOk);
      return false;
    case KitOpenResult::kDamaged: break;
  }
  if (!kitOriginCheck.verdict().ok()) {
    refuseUntrustedKit(kitOriginCheck.verdict());
  } else {
    // A kit the system would not let the reader read is not damaged: the
    // line below says why (a damaged kit's own code has no errno).
    const Status& failure = kitReader.lastStatus();
    messageBox(this, LoadResString("IDS_ERROR_DAMAGEDSOURCE"),
               failure.systemError != 0 ? describe_status(failure) : wstring(), kMsgBoxErrorOk);
  }
  return false;
}

void CInstallerDlg::refuseUntrustedKit(const Status& refusal) {
  // The kit's path and the signature's own words when the refusal is the
  // signature's; the file and the system's reason when a key or signature
  // file could not be used.
  const wstring detail = refusal.path == kitPath && !refusal.note.empty()
                             ? refusal.path + u"\n" + refusal.note
                             : describe_status(refusal);
  messageBox(this, LoadResString("IDS_ERROR_UNTRUSTEDSOURCE"), detail, kMsgBoxErrorOk);
}

void CInstallerDlg::titles(wstring& product, wstring& vendor) const {
  product.clear();
  vendor.clear();
  for (const config::KitProductInfo& info : kitReader.productInfo) {
    if (compare_nocase(info.language, langCode) == 0) {
      product = info.product;
      vendor = info.vendor;
      return;
    }
  }
}

wstring CInstallerDlg::welcomeText() const {
  wstring product;
  wstring vendor;
  titles(product, vendor);
  if (product.empty()) product = LoadResString("IDS_DEFPRODUCT");
  if (vendor.empty()) vendor = LoadResString("IDS_DEFPROVIDER");
  return LoadResString("IDS_WELCOME_TITLE") + u" " + product + u" (" + vendor + u").\n\n" +
         originText();
}

wstring CInstallerDlg::originText() const {
  switch (kitOrigin.kind) {
    case KitOrigin::Kind::kUnsigned: return LoadResString("IDS_KIT_UNSIGNED");
    case KitOrigin::Kind::kUnknownSigner: return LoadResString("IDS_KIT_UNKNOWN_SIGNER");
    case KitOrigin::Kind::kSigned: break;
  }
  const char* whose = kitOrigin.source == KeySource::kAdministrator ? "IDS_KEY_ADMIN"
                      : kitOrigin.source == KeySource::kBuiltIn    ? "IDS_KEY_BUILTIN"
                                                                   : "IDS_KEY_USER";
  // The signer's own words, verified; a line's end cannot be in them.
  return fill_in(LoadResString("IDS_KIT_SIGNED"),
                 {from_system_path(kitOrigin.trustedComment), LoadResString(whose)});
}

void CInstallerDlg::onCatalogConfirmed() {
  if (dirSelectPage == nullptr) return;
  wstring path = dirSelectPage->getPath();
  replace_all(path, kBadPathSeparator, kPathSeparator);
  if (path.empty()) {
    messageBox(this, LoadResString("IDS_SETUP_EMPTYTARGET"), kMsgBoxPlainOk);
    return;
  }
  catalogPath = path;
  if (!signerKeptOrAccepted()) return;
  showProgressPage();
}

bool CInstallerDlg::signerKeptOrAccepted() {
  const SignerChange change = signer_change_at(catalogPath, kitReader.productInfo, kitOrigin);
  processData.setAcceptNewSigner(false);
  if (!change.changed) return true;
  const wstring detail = signer_change_detail(change, catalogPath);
  if (silentMode) {
    std::fprintf(stderr,
                 "setup: %s was installed into %s signed by key %s; this kit has %s; nothing "
                 "was installed\n",
                 to_printable_terminal_text(utf8_to_wide(change.kitName)).c_str(), to_printable_terminal_text(catalogPath).c_str(),
                 to_printable_terminal_text(recorded_signer_text(change)).c_str(),
                 to_printable_terminal_text(new_signer_text(change)).c_str());
    messageBox(this, LoadResString("IDS_SIGNER_CHANGE_REFUSED"), detail, kMsgBoxErrorOk);
    exitStatus = 1;
    return false;
  }
  if (messageBox(this, LoadResString("IDS_SIGNER_CHANGED"), detail, kMsgBoxQuestionDefaultNo) !=
      kMsgBoxAnswerYes) {
    return false;
  }
  // The run asks again under the catalog's lock; the answer goes with it.
  processData.setAcceptNewSigner(true);
  return true;
}

void CInstallerDlg::registerCatalog() {
  // A launcher file that cannot be written does not undo a good
  // installation; the user is not told (the files are in place).
  register_catalog(tmpltsList, hasBaseCfg, listFromBaseCfg, catalogPath);
}

wstring CInstallerDlg::descriptionPath() const {
  const std::vector<config::KitProductInfo>& records = kitReader.productInfo;
  for (const config::KitProductInfo& info : records) {
    if (compare_nocase(info.language, langCode) == 0) {
      if (!info.description.empty()) return info.description;
      break;
    }
  }
  for (const config::KitProductInfo& info : records) {
    if (compare_nocase(info.language, u"en") == 0) return info.description;
  }
  return wstring();
}

void CInstallerDlg::finalize() {
  if (curState != kStateSuccess && curState != kStateFailure) return;
  // The description is relative to the catalog, which may or may not end
  // with "/" (a folder picked in the chooser never does).
  const wstring full = description_full_path(catalogPath, descriptionPath());
  if (curState == kStateSuccess && successPage != nullptr && curPage == successPage &&
      window != nullptr && successPage->isShowReadmeChecked() && !full.empty()) {
    // The user asked for the description: when it cannot be opened, the
    // box says which file and why, in front of the wizard, which then ends
    // as always.
    const wstring reason = open_description(full);
    if (!reason.empty()) {
      messageBox(this, LoadResString("IDS_OPENDESCR_FAILED"), full + u"\n" + reason,
                 kMsgBoxErrorOk);
    }
  }
  if (window != nullptr) gtk_widget_destroy(window);
}
