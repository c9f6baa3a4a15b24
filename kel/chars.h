// The character classes the readers test byte by byte: white space and
// decimal digits, as the C locale's isspace() and isdigit() take them.
#ifndef KEL_CHARS_H
#define KEL_CHARS_H

// ' ', '\t', '\n', '\v', '\f' and '\r'.
inline bool kelIsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool kelIsDigit(char c) { return unsigned(c - '0') < 10; }

#endif  // KEL_CHARS_H
