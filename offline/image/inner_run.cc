#include "offline/image/inner_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "check/text.h"
#include "registry/code_page.h"

namespace endpointfix::offline::image {
namespace {

std::string with_shown(std::string text, const std::string& copied, const std::string& shown) {
    for (std::size_t at = 0; (at = text.find(copied, at)) != std::string::npos; at += shown.size())
        text.replace(at, copied.size(), shown);
    return text;
}

void write_shown(const std::string& line, const std::string& copied, const std::string& shown) {
    const std::string text = with_shown(line, copied, shown);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

PrivateFolder::PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string name =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/endpointfix-image.XXXXXX";
    char resolved[PATH_MAX];
    // mkdtemp makes it 0700; its resolved path is the one the offline program names.
    if (mkdtemp(name.data()) != nullptr)
        path_ = realpath(name.c_str(), resolved) != nullptr ? resolved : name;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

int run_offline(const std::string& program, const std::vector<std::string>& args,
                const std::string& hive, int out, const std::string& copied,
                const std::string& shown) {
    int messages[2];
    if (pipe(messages) != 0) return 2;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(const_cast<char*>(hive.c_str()));
    argv.push_back(nullptr);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(messages[1], STDERR_FILENO);
        close(messages[0]);
        close(messages[1]);
        execv(program.c_str(), argv.data());
        std::fprintf(stderr, "endpointfix-offline: %s\n",
                     escaped_name("cannot start " + program + ": " + std::strerror(errno)).c_str());
        _exit(2);
    }
    close(messages[1]);
    if (child < 0) {
        close(messages[0]);
        return 2;
    }
    // Its lines name the copy as escaped_name spells it, and so is what stands for it.
    const std::string escaped_copied = escaped_name(copied), escaped_shown = escaped_name(shown);
    std::string pending;
    char buffer[4096];
    for (ssize_t got; (got = read(messages[0], buffer, sizeof(buffer))) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;
             pending.erase(0, end + 1))
            write_shown(pending.substr(0, end + 1), escaped_copied, escaped_shown);
    }
    write_shown(pending, escaped_copied, escaped_shown);
    close(messages[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int print_held(int held, const std::string& copied, const std::string& shown, int status) {
    std::string text;
    char buffer[4096];
    lseek(held, 0, SEEK_SET);
    for (ssize_t n; (n = read(held, buffer, sizeof(buffer))) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(held);
    text = with_shown(text, copied, shown);
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return status;
    std::fprintf(stderr, "endpointfix-offline: the report could not be written in full\n");
    return 4;
}

std::string json_text(const std::string& text) {
    std::string json;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t i = 0, length = 1; i < text.size(); i += length) {
        char32_t c = utf8_character(s + i, text.size() - i, length);
        if (c >= 0x110000 || (c >= 0xd800 && c < 0xe000)) c = ansi_to_unicode(s[i]), length = 1;
        char escaped[16];
        if (c == '"' || c == '\\')
            std::snprintf(escaped, sizeof(escaped), "\\%c", static_cast<char>(c));
        else if (c >= 0x20 && c < 0x7f)
            std::snprintf(escaped, sizeof(escaped), "%c", static_cast<char>(c));
        else if (c < 0x10000)
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
        else
            std::snprintf(escaped, sizeof(escaped), "\\u%04x\\u%04x",
                          static_cast<unsigned>(0xd800 + ((c - 0x10000) >> 10)),
                          static_cast<unsigned>(0xdc00 + ((c - 0x10000) & 0x3ff)));
        json += escaped;
    }
    return json;
}

}  // namespace endpointfix::offline::image
