// The fault report and the ways a fault ends.
//
// Report: "\nthread '<unnamed>' (TID) panicked at FILE:LINE:COLUMN:\nMESSAGE\n",
// written with one writev so reports of several threads do not interleave.
// After the first report of the process a note tells how to get stack
// traces; with PELM_BACKTRACE set (and not "0") every report is followed by a
// stack trace instead.
#include "frame/fault.hpp"

#include <execinfo.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace pelm {
namespace {

std::atomic<bool> first_report_written{false};

bool stack_traces_wanted() {
    const char* setting = std::getenv("PELM_BACKTRACE");
    return setting != nullptr && setting[0] != '\0' && std::strcmp(setting, "0") != 0;
}

// The file of the call site relative to the repository root.
std::string_view relative_file(const char* file) {
    std::string_view path(file);
#ifdef PELM_SOURCE_ROOT
    constexpr std::string_view root = PELM_SOURCE_ROOT;
    if (path.starts_with(root)) path.remove_prefix(root.size());
#endif
    return path;
}

void write_all(const struct iovec* parts, int count) {
    // Best effort: a fault report has nowhere else to go.
    ssize_t ignored = writev(STDERR_FILENO, parts, count);
    (void)ignored;
}

void write_text(std::string_view text) {
    struct iovec part{const_cast<char*>(text.data()), text.size()};
    write_all(&part, 1);
}

void write_stack_trace() {
    void* frames[128];
    int depth = backtrace(frames, 128);
    write_text("stack backtrace:\n");
    backtrace_symbols_fd(frames, depth, STDERR_FILENO);
}

void write_report(std::string_view message, const std::source_location& where, bool force_trace) {
    char tid[24];
    char line[24];
    char column[24];
    auto tid_end = std::to_chars(tid, tid + sizeof tid, static_cast<long>(syscall(SYS_gettid))).ptr;
    auto line_end = std::to_chars(line, line + sizeof line, where.line()).ptr;
    auto column_end = std::to_chars(column, column + sizeof column, where.column()).ptr;
    std::string_view file = relative_file(where.file_name());

    const std::string_view pieces[] = {
        "\nthread '<unnamed>' (", {tid, size_t(tid_end - tid)}, ") panicked at ", file, ":",
        {line, size_t(line_end - line)}, ":", {column, size_t(column_end - column)}, ":\n",
        message, "\n",
    };
    struct iovec parts[std::size(pieces)];
    for (size_t i = 0; i < std::size(pieces); ++i) {
        parts[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
    }
    write_all(parts, static_cast<int>(std::size(parts)));

    if (force_trace || stack_traces_wanted()) {
        write_stack_trace();
    } else if (!first_report_written.exchange(true)) {
        write_text(
            "note: run with `PELM_BACKTRACE=1` environment variable to display a backtrace\n");
    }
    first_report_written.store(true);
}

}  // namespace

void fault(std::string_view message, std::source_location where) {
    write_report(message, where, false);
    throw InternalFault(OwnedText(message));
}

void resume_fault(OwnedText message) { throw InternalFault(std::move(message)); }

void uncaught_fault_at_boundary(std::source_location where) noexcept {
    write_report("uncaught panic at ffi boundary", where, true);
    std::abort();
}

void fatal_fault(std::string_view message, std::source_location where) noexcept {
    write_report(message, where, false);
    uncaught_fault_at_boundary(where);
}

void allocation_failed(std::size_t bytes) noexcept {
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, bytes).ptr;
    const std::string_view pieces[] = {"memory allocation of ", {text, size_t(end - text)},
                                       " bytes failed\n"};
    struct iovec parts[3];
    for (size_t i = 0; i < 3; ++i) parts[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
    write_all(parts, 3);
    std::abort();
}

}  // namespace pelm
