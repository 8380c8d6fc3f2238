// The commands of xdktool, the kit tool. Each takes the command's own
// arguments (argv[0] is the command name) and returns the process exit
// status: 0 success, 1 failure, 2 wrong usage. Messages go to stderr.
// Main thread only.
#ifndef QXR8_TOOLS_XDKTOOL_COMMANDS_H_
#define QXR8_TOOLS_XDKTOOL_COMMANDS_H_

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// xdktool pack [options] DIR OUT.xdk
int xdktool_pack(int argc, char** argv);
// xdktool list KIT
int xdktool_list(int argc, char** argv);
// xdktool install [--register] KIT CATALOG
int xdktool_install(int argc, char** argv);

#endif  // QXR8_TOOLS_XDKTOOL_COMMANDS_H_
