// Random parts of names that are made with exclusive creation: hidden
// temporaries, backup trees and unpacked kits. The randomness only makes a
// clash unlikely; the exclusive creation is what makes a name safe.
// Any thread.
#ifndef QXR8_PLATFORM_RANDOM_NAME_H_
#define QXR8_PLATFORM_RANDOM_NAME_H_

#include <cstddef>
#include <string>

// `count` characters drawn from `alphabet` (at most 256 characters), from
// the system's random source, or from a clock and process mix when it has
// none.
std::string random_characters(const char* alphabet, size_t count);

// Lowercase letters and digits.
inline constexpr char kLowerAlphanumeric[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// ".r8" and twelve characters of [a-z0-9], from a generator each thread
// seeds once from the system's random source: the name of every hidden
// temporary an installation or a move makes beside its target, so that a
// later run can recognise what a killed one left.
std::string hidden_temporary_name();

// Whether `name` has the form hidden_temporary_name gives.
bool is_hidden_temporary_name(const std::string& name);

#endif  // QXR8_PLATFORM_RANDOM_NAME_H_
