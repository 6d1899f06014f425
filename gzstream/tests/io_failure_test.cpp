// Failures of the file under the stream layer that happen once and then go
// away.  This executable is linked with --wrap for fwrite, fread and fflush
// (stdio_faults): for one armed descriptor the wrappers make one chosen call
// fail, and every other call works.  A writer must then fail for good (the
// output can no longer decode, so gzclose must not return 0) without writing
// any accepted byte twice; a reader must report the failure through gzread and never take
// it for the end of the data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gz_test_util.h"
#include "gzip_builder.h"
#include "stdio_faults.h"
#include "test_data.h"

namespace zpress_test {
namespace {

using namespace gzstream;

using ArmedFault = stdio_faults::scoped_fault;
using stdio_faults::kind;

// ---- Writing ---------------------------------------------------------------

// One step of a writer's script; `failed` says whether its result is the
// failure value of that entry point.
struct Step {
    std::function<int(gz_handle*)> call;
    std::function<bool(int)> failed;
};

// Every write entry point, in a mix that makes the engine hand out several
// full blocks (the data is incompressible) between flushes and changes.
std::vector<Step> writer_script(const Bytes& data) {
    std::vector<Step> script;
    const auto write = [&script](const unsigned char* p, unsigned n) {
        script.push_back({[p, n](gz_handle* h) { return gzwrite(h, p, n); },
                          [n](int r) { return r != static_cast<int>(n); }});
    };
    const auto returns = [](int value) { return [value](int r) { return r == value; }; };
    std::size_t at = 0;
    for (int round = 0; at + 30000 <= data.size(); ++round) {
        write(data.data() + at, 20000);
        at += 20000;
        script.push_back({[](gz_handle* h) { return gzputc(h, 'c'); }, returns(-1)});
        script.push_back({[](gz_handle* h) { return gzputs(h, "puts"); }, returns(-1)});
        script.push_back(
            {[](gz_handle* h) { return gzprintf(h, "%s-%d", std::string(5000, 'p').c_str(), 7); },
             returns(-1)});
        switch (round % 4) {
            case 0:
                script.push_back(
                    {[](gz_handle* h) { return gzflush(h, Z_SYNC_FLUSH); }, returns(Z_ERRNO)});
                break;
            case 1:
                script.push_back({[round](gz_handle* h) { return gzsetparams(h, round % 10, 0); },
                                  returns(Z_ERRNO)});
                break;
            case 2:
                script.push_back({[](gz_handle* h) { return static_cast<int>(gzseek(h, 3000, 1)); },
                                  returns(-1)});
                break;
            default:
                script.push_back(
                    {[](gz_handle* h) { return gzflush(h, Z_FULL_FLUSH); }, returns(Z_ERRNO)});
                break;
        }
        write(data.data() + at, 10000);
        at += 10000;
    }
    return script;
}

struct WriterRun {
    Bytes file;
    int close_status = 0;
    long fault_calls = 0;
    bool fired = false;
    std::size_t failed_at = 0;  // index of the first step that failed; script size if none
    bool later_steps_failed = true;
    int status_after = 0;
    std::string text_after;
    int reason = 0;       // gzerrno once a step failed
    int close_errno = 0;  // errno after gzclose
};

WriterRun run_writer(const std::vector<Step>& script, long fail_at) {
    WriterRun run;
    const int fd = memfd_with({});
    ArmedFault armed(kind::writes, fd, fail_at);
    GzPtr h(gzdopen(fd, "wb1"));
    EXPECT_NE(h, nullptr);
    if (h == nullptr) return run;
    run.failed_at = script.size();
    for (std::size_t i = 0; i < script.size(); ++i) {
        const bool failed = script[i].failed(script[i].call(h.get()));
        if (failed && run.failed_at == script.size()) run.failed_at = i;
        if (!failed && run.failed_at < i) run.later_steps_failed = false;
    }
    if (run.failed_at < script.size()) {
        run.text_after = error_of(h.get(), &run.status_after);
        run.reason = gzerrno(h.get());
        gzclearerr(h.get());  // cannot bring lost output back
        EXPECT_EQ(gzwrite(h.get(), "x", 1), -1);
    }
    const int dup_fd = dup(fd);
    errno = 0;
    run.close_status = close_handle(h);
    run.close_errno = errno;
    run.fault_calls = stdio_faults::calls();
    run.fired = stdio_faults::fired();
    run.file = file_contents(dup_fd);
    close(dup_fd);
    return run;
}

// Each of the layer's fwrite and fflush calls in turn fails once (the header's
// at the open, blocks, flushes, the trailer at the close): the open still
// succeeds, the calls from the failing one on fail, gzerror keeps "file
// error", gzclose returns Z_ERRNO, and the file holds a prefix of the healthy
// output (nothing was written twice, no block given up in the middle).
TEST(WriteFailsOnce, StreamFailsForGoodAndWritesNothingTwice) {
    const Bytes data = make_data(DataKind::random, 300000, 21);
    const std::vector<Step> script = writer_script(data);
    const WriterRun healthy = run_writer(script, 0);
    ASSERT_EQ(healthy.close_status, 0);
    ASSERT_EQ(healthy.failed_at, script.size());
    ASSERT_TRUE(inflate_gzip_strict(healthy.file).ok);
    ASSERT_GT(healthy.fault_calls, 20);

    for (long fail_at = 1; fail_at <= healthy.fault_calls; ++fail_at) {
        SCOPED_TRACE("failing call " + std::to_string(fail_at));
        const WriterRun run = run_writer(script, fail_at);
        ASSERT_TRUE(run.fired);
        EXPECT_EQ(run.close_status, Z_ERRNO);
        // The failed call's reason (ENOSPC from fwrite, EIO from fflush)
        // outlives the later failures and the close.
        EXPECT_TRUE(run.close_errno == ENOSPC || run.close_errno == EIO) << run.close_errno;
        if (run.failed_at < script.size()) {
            EXPECT_EQ(run.reason, run.close_errno);
        }
        EXPECT_TRUE(run.later_steps_failed);
        EXPECT_TRUE(is_prefix(run.file, healthy.file));
        EXPECT_LT(run.file.size(), healthy.file.size());
        EXPECT_FALSE(inflate_gzip_strict(run.file).ok);
        if (run.failed_at < script.size()) {
            EXPECT_EQ(run.status_after, Z_ERRNO);
            EXPECT_TRUE(run.text_after.ends_with(">: file error")) << run.text_after;
        }
    }
}

// The real device: a sync flush to /dev/full fails, not only the close.
TEST(WriteFails, SyncFlushToFullDevice) {
    GzPtr h(gzopen("/dev/full", "wb"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(gzputs(h.get(), "small"), 5);
    EXPECT_EQ(gzflush(h.get(), Z_SYNC_FLUSH), Z_ERRNO);
    EXPECT_EQ(error_of(h.get()), "/dev/full: file error");
    EXPECT_EQ(gzprintf(h.get(), "%d", 1), -1);
    EXPECT_EQ(close_handle(h), Z_ERRNO);
}

// A non-blocking pipe that fills up: fwrite takes part of a block and fails
// with EAGAIN.  Draining the pipe does not make the stream usable again,
// and what came through the pipe is the beginning of the healthy output.
TEST(WriteFails, NonBlockingPipeThatFills) {
    const Bytes data = make_data(DataKind::random, 1 << 20, 22);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    const std::string pipe_name = "<fd:" + std::to_string(ends[1]) + ">";
    GzPtr h(gzdopen(ends[1], "wb1"));
    ASSERT_NE(h, nullptr);

    Bytes through;
    const auto drain = [&] {
        unsigned char buf[65536];
        ssize_t n;
        while ((n = read(ends[0], buf, sizeof buf)) > 0)
            through.insert(through.end(), buf, buf + n);
    };
    std::size_t at = 0;
    int n = 0;
    for (; at < data.size(); at += 16384) {
        n = gzwrite(h.get(), data.data() + at, 16384);
        if (n != 16384) break;
    }
    ASSERT_LT(at, data.size()) << "the pipe never filled";
    EXPECT_EQ(n, -1);
    EXPECT_EQ(error_of(h.get()), pipe_name + ": file error");
    drain();
    EXPECT_EQ(gzwrite(h.get(), data.data(), 100), -1);
    EXPECT_EQ(gzflush(h.get(), Z_SYNC_FLUSH), Z_ERRNO);
    EXPECT_EQ(close_handle(h), Z_ERRNO);
    drain();
    close(ends[0]);

    // The same writes into a file, under the same name in the header.
    TempDir dir;
    const std::string path = dir.path(pipe_name);
    GzPtr healthy(gzopen(path.c_str(), "wb1"));
    ASSERT_NE(healthy, nullptr);
    ASSERT_EQ(gzwrite(healthy.get(), data.data(), static_cast<unsigned>(at + 16384)),
              static_cast<int>(at + 16384));
    ASSERT_EQ(close_handle(healthy), 0);
    const Bytes whole = read_file(path);
    EXPECT_GT(through.size(), 16384u);
    EXPECT_TRUE(is_prefix(through, whole));
}

// ---- Reading ---------------------------------------------------------------

struct ReaderRun {
    Bytes data;
    bool fired = false;
    long calls = 0;
    std::vector<int> results;  // every gzread result, the last one included
    int status = 0;
    int reason = 0;  // gzerrno at the failure
    int close_status = 0;
};

// Reads to the end or to the first failure; with `clear`, a failure is
// cleared once and reading goes on.
ReaderRun run_reader(const Bytes& input, long fail_at, bool clear) {
    ReaderRun run;
    const int fd = memfd_with(input);
    ArmedFault armed(kind::reads, fd, fail_at);
    GzPtr h(gzdopen(fd, "rb"));
    EXPECT_NE(h, nullptr);
    if (h == nullptr) return run;
    Bytes buf(10000);
    bool cleared = false;
    for (;;) {
        const int n = gzread(h.get(), buf.data(), static_cast<unsigned>(buf.size()));
        run.results.push_back(n);
        if (n > 0) {
            run.data.insert(run.data.end(), buf.begin(), buf.begin() + n);
            continue;
        }
        if (n < 0) {
            error_of(h.get(), &run.status);
            run.reason = gzerrno(h.get());
            EXPECT_EQ(gzread(h.get(), buf.data(), 10), -1);  // the error stays
            EXPECT_EQ(gzgetc(h.get()), -1);
            if (clear && !cleared) {
                cleared = true;
                gzclearerr(h.get());
                continue;
            }
        }
        break;
    }
    run.fired = stdio_faults::fired();
    run.calls = stdio_faults::calls();
    run.close_status = close_handle(h);
    return run;
}

// A read of the file that fails once, on a gzip stream and on plain data:
// gzread gives -1 (after any bytes of the same call), never 0; gzclose
// reports it.  Cleared with gzclearerr, reading goes on where it stopped and
// the data comes out whole.
TEST(ReadFailsOnce, ReportedAndRecoverable) {
    const Bytes plain = make_data(DataKind::mixed, 1000000, 23);
    for (const Bytes& input : {gzip_member(plain), plain}) {
        const bool is_gzip = input != plain;
        const ReaderRun healthy = run_reader(input, 0, false);
        ASSERT_EQ(healthy.data, plain);
        ASSERT_EQ(healthy.close_status, 0);
        int fired = 0;
        for (long fail_at = 1; fail_at <= healthy.calls; ++fail_at) {
            SCOPED_TRACE(std::string(is_gzip ? "gzip" : "plain") + ", failing call " +
                         std::to_string(fail_at));
            const ReaderRun run = run_reader(input, fail_at, false);
            if (!run.fired) continue;  // stdio served that call from its buffer
            ++fired;
            EXPECT_EQ(run.results.back(), -1);
            EXPECT_EQ(std::count(run.results.begin(), run.results.end(), 0), 0);
            EXPECT_TRUE(is_prefix(run.data, plain));
            EXPECT_EQ(run.status, Z_ERRNO);
            EXPECT_EQ(run.reason, EISDIR);
            EXPECT_EQ(run.close_status, Z_ERRNO);

            // A failure while the first header is read leaves the kind of
            // the stream unknown; it cannot be cleared into a good read.
            if (fail_at == 1) continue;
            const ReaderRun recovered = run_reader(input, fail_at, true);
            EXPECT_EQ(recovered.data, plain);
            EXPECT_EQ(recovered.results.back(), 0);
            EXPECT_EQ(recovered.close_status, 0);
        }
        EXPECT_GT(fired, 3);
    }
}

// A read that fails inside a member's trailer or the next member's header is
// a file error like any other, never damage; inside the trailer it can be
// cleared and the reading ends whole.  The reader takes a regular file in
// 128 KiB reads: stored members are sized so that the second read begins
// inside the first member's trailer, or three bytes into the next header.
TEST(ReadFailsOnce, InsideATrailerOrALaterHeader) {
    constexpr std::size_t kFirstRead = 131072;
    const Bytes second = gzip_member(bytes_of("second member"));
    for (const std::size_t cut_at : {std::size_t{3}, std::size_t{0}}) {
        // cut_at 3: the read boundary lies 3 bytes into the second header;
        // 0: it lies 4 bytes before the end of the first member's trailer.
        Bytes plain = make_data(DataKind::random, kFirstRead, 5);
        Bytes first = gzip_member(plain, MemberParts{}.with_level(0));
        const std::size_t end = cut_at == 0 ? kFirstRead + 4 : kFirstRead - cut_at;
        plain.resize(plain.size() - (first.size() - end));
        first = gzip_member(plain, MemberParts{}.with_level(0));
        ASSERT_EQ(first.size(), end);
        const Bytes input = concat({first, second});
        const Bytes whole = concat({plain, bytes_of("second member")});
        SCOPED_TRACE(cut_at);
        const ReaderRun run = run_reader(input, 2, cut_at == 0);
        ASSERT_TRUE(run.fired);
        EXPECT_EQ(std::count(run.results.begin(), run.results.end(), -1), 1);
        if (cut_at == 0) {
            EXPECT_EQ(run.data, whole);
            EXPECT_EQ(run.results.back(), 0);
            EXPECT_EQ(run.close_status, 0);
        } else {
            EXPECT_EQ(run.status, Z_ERRNO);
            EXPECT_EQ(run.reason, EISDIR);
            EXPECT_EQ(run.close_status, Z_ERRNO);
            // A rewind starts afresh: the failure is not met again at the end.
            const int fd = memfd_with(input);
            ArmedFault armed(kind::reads, fd, 2);
            GzPtr h(gzdopen(fd, "rb"));
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(read_to_end(h.get(), 10000).last, -1);
            ASSERT_EQ(gzrewind(h.get()), 0);
            const ReadOutcome again = read_to_end(h.get(), 10000);
            EXPECT_EQ(again.data, whole);
            EXPECT_EQ(again.last, 0);
            EXPECT_EQ(close_handle(h), 0);
        }
    }
}

}  // namespace
}  // namespace zpress_test
