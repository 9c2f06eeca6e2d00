#include "frontend.h"

#include <fstream>
#include <new>
#include <ostream>

#include "pidigits.h"

namespace generator {

namespace {

constexpr const char* usagemessage = "usage: pi #DIGITS [FILE]";
constexpr const char* rangemessage = "#DIGITS must be between 0 and 16953818\n";
constexpr const char* outofmemorymessage = "Out of memory\n";

bool isatoispace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int64_t readcount(const char* text)
{
    while (isatoispace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude <= maxdigits) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    if (magnitude > maxdigits) {
        magnitude = std::int64_t{maxdigits} + 1;
    }
    return negative ? -magnitude : magnitude;
}

std::optional<std::int32_t> digitcount(const char* text)
{
    const std::int64_t count = readcount(text);
    if (count < 0 || count > maxdigits) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(count);
}

int buildtext(int argc, char** argv, std::ostream& err, std::string& text)
{
    if (argc <= 1) {
        err << usagemessage << std::endl;
        return exitusage;
    }
    const std::optional<std::int32_t> count = digitcount(argv[1]);
    if (!count) {
        err << rangemessage;
        return exitusage;
    }
    try {
        text = pidigits(*count);
    } catch (const std::bad_alloc&) {
        err << outofmemorymessage;
        return exitoutofmemory;
    }
    return exitsuccess;
}

int writestandardoutput(std::ostream& out, std::ostream& err, const std::string& text)
{
    out << text << '\n' << std::flush;
    if (!out) {
        err << "Cannot write standard output\n";
        return exitoutput;
    }
    return exitsuccess;
}

int writefile(const char* name, std::ostream& err, const std::string& text)
{
    std::ofstream file(name);
    if (!file.is_open()) {
        err << "Cannot open " << name << '\n';
        return exitoutput;
    }
    file << text << '\n' << std::flush;
    file.close();
    if (!file) {
        err << "Cannot write " << name << '\n';
        return exitoutput;
    }
    return exitsuccess;
}

}  // namespace generator
