#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "numeric/numeric.h"

thread_local ConsoleCapture *Console_capture = nullptr;

void append_vformat(std::string &to, const char *format, va_list args)
{
    // Most texts fit the stack buffer; a longer one is formatted again into
    // room made for it.
    char small[256];
    va_list again;
    va_copy(again, args);
    int len = std::vsnprintf(small, sizeof small, format, args);
    if (len < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(len) < sizeof small) {
        to.append(small, static_cast<size_t>(len));
    } else {
        size_t at = to.size();
        to.resize(at + static_cast<size_t>(len) + 1);
        std::vsnprintf(&to[at], static_cast<size_t>(len) + 1, format, again);
        to.resize(at + static_cast<size_t>(len));
    }
    va_end(again);
}

void append_format(std::string &to, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    append_vformat(to, format, args);
    va_end(args);
}

// Appends to the capture's text for the stream, or writes to the stream;
// before standard error, whatever the program printed so far goes out, so
// that a log of both streams keeps its order.
static void console_vprintf(FILE *stream, std::string ConsoleCapture::*text, const char *format, va_list args)
{
    if (Console_capture) {
        append_vformat(Console_capture->*text, format, args);
        return;
    }
    if (stream == stderr) std::fflush(stdout);
    std::vfprintf(stream, format, args);
}

void console_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    console_vprintf(stdout, &ConsoleCapture::out, format, args);
    va_end(args);
}

void console_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    console_vprintf(stderr, &ConsoleCapture::err, format, args);
    va_end(args);
}

void stop_program(int status)
{
    if (Console_capture) {
        Console_capture->status = status;
        Console_capture->stopped = true;
        throw StopRequested{};
    }
    std::exit(status);
}

void replay_console(const ConsoleCapture &c)
{
    std::fwrite(c.out.data(), 1, c.out.size(), stdout);
    if (!c.err.empty()) {
        std::fflush(stdout);
        std::fwrite(c.err.data(), 1, c.err.size(), stderr);
    }
}
