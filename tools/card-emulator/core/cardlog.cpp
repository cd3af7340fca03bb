#include "tools/card-emulator/core/cardlog.h"

#include <cerrno>
#include <string_view>

namespace card {

CardLog::~CardLog()
{
    if (file)
        std::fclose(file);
}

bool CardLog::openFile(const char* path)
{
    std::FILE* f = std::fopen(path, "a");
    if (!f)
        return false;
    if (file)
        std::fclose(file);
    file = f;
    return true;
}

void CardLog::setSink(void (*sink)(void*, const std::string&), void* context)
{
    sinkFn = sink;
    sinkContext = context;
}

const char* CardLog::errorName(int error)
{
    switch (error) {
    case EIO:
        return "EIO";
    case ENODEV:
        return "ENODEV";
    case EINVAL:
        return "EINVAL";
    case ENOTTY:
        return "ENOTTY";
    default:
        return "EOTHER";
    }
}

void CardLog::line(const std::string& text)
{
    if (sinkFn)
        sinkFn(sinkContext, text);
    if (file) {
        std::fputs(text.c_str(), file);
        std::fputc('\n', file);
        std::fflush(file);
    }
}

void CardLog::open(int error)
{
    line(error ? std::string("open ") + errorName(error) : std::string("open"));
}

void CardLog::close()
{
    line("close");
}

void CardLog::write(const char* data, std::size_t length, const WriteOutcome& outcome)
{
    std::string text = "write " + escapeBytes(data, length);
    if (outcome.error) {
        text += ' ';
        text += errorName(outcome.error);
    } else if (outcome.ignored) {
        text += " ignored ";
        text += outcome.reason;
    }
    line(text);
}

void CardLog::read(std::size_t asked, std::size_t returned, int error)
{
    char text[64];
    if (error)
        std::snprintf(text, sizeof text, "read %zu %s", asked, errorName(error));
    else
        std::snprintf(text, sizeof text, "read %zu %zu", asked, returned);
    line(text);
}

void CardLog::ioctl(const char* what, unsigned request, std::uintptr_t argument, int error)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s 0x%x %ju%s%s", what, request, std::uintmax_t(argument),
                  error ? " " : "", error ? errorName(error) : "");
    line(text);
}

void CardLog::control(const char* data, std::size_t length, bool accepted)
{
    if (!accepted) {
        std::size_t shown = length;
        while (shown > 0 && (data[shown - 1] == '\n' || data[shown - 1] == '\r'))
            --shown;
        line("control " + escapeBytes(data, shown) + " EINVAL");
        return;
    }
    // One line per command, blanks squeezed, so that tests compare plain text.
    std::string_view text(data, length);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view l = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string words;
        bool blank = true;
        for (char c : l) {
            if (c == ' ' || c == '\t' || c == '\r') {
                blank = true;
                continue;
            }
            if (blank && !words.empty())
                words += ' ';
            blank = false;
            words += c;
        }
        if (!words.empty())
            line("control " + words);
    }
}

}  // namespace card

namespace card {

void CardLog::source(bool working, const std::string& reason)
{
    if (working) {
        line("source ok");
        return;
    }
    // One line whatever the library's message holds.
    std::string text = "source error ";
    for (char c : reason)
        text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    line(text);
}

void CardLog::sourceChosen(const std::string& which)
{
    line("source auto " + which);
}

void CardLog::sourceMode(const std::string& mode)
{
    line("source " + mode);
}

}  // namespace card
