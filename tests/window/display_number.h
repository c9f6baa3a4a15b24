// Reading the display that "Xvfb -displayfd FD" picked: the server writes
// its number and a line end to FD once it accepts connections.
#ifndef ORVANDEL_TESTS_DISPLAY_NUMBER_H
#define ORVANDEL_TESTS_DISPLAY_NUMBER_H

#include <poll.h>
#include <unistd.h>

#include <string>

// The display name (":N") read from `fd`, or "" when none came within
// ten seconds. Closes `fd`.
inline std::string readDisplayName(int fd) {
    std::string number;
    pollfd p = {fd, POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[16];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, size_t(n));
    }
    close(fd);
    const size_t newline = number.find('\n');
    return newline == std::string::npos ? std::string() : ":" + number.substr(0, newline);
}

#endif  // ORVANDEL_TESTS_DISPLAY_NUMBER_H
