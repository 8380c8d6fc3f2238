// The commands of xdktool, the kit tool. Each takes the command's own
// arguments (argv[0] is the command name) and returns the process exit
// status: 0 success, 1 failure, 2 wrong usage. Messages go to stderr;
// results (listings, plans, summaries) to stdout. Main thread only.
#ifndef QXR8_TOOLS_XDKTOOL_COMMANDS_H_
#define QXR8_TOOLS_XDKTOOL_COMMANDS_H_

struct SignatureOptions;  // xdktool_signature.h

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// xdktool pack [options] DIR OUT.xdk
int xdktool_pack(int argc, char** argv);
// xdktool list [signature options] KIT
int xdktool_list(int argc, char** argv);
// xdktool verify [signature options] KIT
int xdktool_verify(int argc, char** argv);
// xdktool install [--register] [--dry-run] [signature options] KIT CATALOG
int xdktool_install(int argc, char** argv);
// xdktool remove [--unregister] [--dry-run] [signature options] KIT CATALOG,
// or remove [...] CATALOG NAME
int xdktool_remove(int argc, char** argv);
// xdktool check [signature options] KIT CATALOG, or check CATALOG NAME
int xdktool_check(int argc, char** argv);
// xdktool installed [--files NAME] CATALOG
int xdktool_installed(int argc, char** argv);

// Each command's help text, as `xdktool help CMD` and `CMD --help` print it.
extern const char kPackUsage[];
extern const char kListUsage[];
extern const char kVerifyUsage[];
extern const char kInstallUsage[];
extern const char kRemoveUsage[];
extern const char kCheckUsage[];
extern const char kInstalledUsage[];

// Prints "xdktool COMMAND: MESSAGE" and the hint to the command's help on
// stderr; returns kExitUsage. One message per wrong command line.
int usage_error(const char* command, const char* message);

// Reads the command line of COMMAND when it takes one KIT and no option but
// the signature options (to `signature`), -h/--help and "--". Returns -1
// with `kitPath` pointing into argv when the command goes on; otherwise the
// status it must exit with (its `usage` was printed, or one usage error was
// reported).
int read_kit_argument(const char* command, const char* usage, int argc, char** argv,
                      SignatureOptions& signature, const char*& kitPath);

#endif  // QXR8_TOOLS_XDKTOOL_COMMANDS_H_
