// File names that a shell would act on: a command substitution in both
// forms, a closing double quote followed by a command, a newline, a leading
// "-" (an option to any tool), a backslash and a single quote. Each one,
// if run through a shell, creates the file "PWNED" in the working directory.
#ifndef QXR8_TESTS_PLATFORM_HOSTILE_NAMES_H_
#define QXR8_TESTS_PLATFORM_HOSTILE_NAMES_H_

inline const char* const kHostileNames[] = {
    "$(touch PWNED)",
    "`touch PWNED`",
    "q\"; touch PWNED; echo \"",
    "line\ntouch PWNED",
    "-rf",
    "--touch PWNED",
    "back\\slash $(touch PWNED)",
    "it's `touch PWNED`",
};

#endif  // QXR8_TESTS_PLATFORM_HOSTILE_NAMES_H_
