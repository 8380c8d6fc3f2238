// What the commands that work on a kit and a catalog (install, remove)
// share: the kit opened with the wizard's checks, the catalog argument as
// the engine takes it, and text fit for a terminal. Main thread.
#ifndef QXR8_TOOLS_XDKTOOL_CATALOG_RUN_H_
#define QXR8_TOOLS_XDKTOOL_CATALOG_RUN_H_

#include <string>
#include <utility>
#include <vector>

#include "install/install_data.h"
#include "install/preinstall_checks.h"
#include "tools/xdktool_signature.h"
#include "platform/status.h"
#include "platform/wstring.h"

// The command line of COMMAND when it takes flags, a KIT and a CATALOG
// (and -h/--help and "--"): each of `flags` is an option and the bool it
// sets. Returns -1 with `kit` and `catalog` pointing into argv when the
// command goes on; otherwise the status it must exit with (its `usage` was
// printed, or one usage error was reported).
// The signature options (xdktool_signature.h) go to `signature`.
int read_kit_and_catalog(const char* command, const char* usage, int argc, char** argv,
                         const std::vector<std::pair<const char*, bool*>>& flags,
                         SignatureOptions& signature, const char*& kit, const char*& catalog);

// Text for a terminal, in the locale's encoding: control characters shown
// as "?", so that a file name cannot move the cursor or end a line.
std::string printable(const wstring& text);

// Whether the first of a command's two arguments names a folder (links
// followed, as any path a user gives): then the command's form is
// "CATALOG NAME", by the catalog's record of the kit NAME, not "KIT
// CATALOG".
bool names_a_folder(const char* argument);

// The signature options stand only beside a KIT: with the "CATALOG NAME"
// form they are a usage error of `command` (the status returned); -1
// otherwise.
int refuse_signature_options(const char* command, const SignatureOptions& signature);

// "PATH: REASON (code N)" or "REASON (code N)", printable.
std::string failure_text(const Status& failure);

// The catalog as the engine will use it: backslashes made slashes, and a
// relative path anchored at the current directory, so that what is
// registered names the same place from anywhere. The argument's bytes are
// kept exactly, whatever the locale.
wstring absolute_catalog(const char* argument);

// What a run kept in the catalog and why (an interrupted run's leftovers,
// files saved during a rollback), one line each on stderr as
// "xdktool COMMAND: LINE".
void print_notes(const char* command, const std::vector<wstring>& notes);

// The registration line on standard output, in a fixed form that scripts
// read: "xdktool COMMAND: VERB CATALOG" when the launcher's list changed
// (`verb` "registered" or "unregistered"), "xdktool COMMAND: registration
// unchanged" when `verb` is null.
void report_registration(const char* command, const char* verb, const wstring& catalog);

// The wizard's checks, in its order: the kit exists, the temporary
// directory has room, its signature is acceptable with `signature`
// (begin_origin_check, with `origin`, which must outlive the reader's
// use), the kit opens (as far as `reading` says, preinstall_checks.h). 0
// when `kit` is open; otherwise the exit status, after one message
// "xdktool COMMAND: ..." on stderr.
int open_checked_kit(const char* command, const char* kitArg, const SignatureOptions& signature,
                     KitOriginCheck& origin, KitReader& kit,
                     KitReading reading = KitReading::kWhole);

#endif  // QXR8_TOOLS_XDKTOOL_CATALOG_RUN_H_
