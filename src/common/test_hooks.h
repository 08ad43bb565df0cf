// Points where the test build can end the process or record what it did to a file; the release
// build compiles them to nothing. Crash safety is tested by ending the real program at every
// point that changes a file, then starting it again.
//   BRIVON_TEST_KILL_AT=NAME[#N]   ends the process at the Nth (first) point named NAME: a log
//                                  line's marker once written, or a point named in the code
//   BRIVON_TEST_PAUSE_AT=NAME[,NAME...]  waits a second and a half at every point so named, so
//                                  that a test sees what the program shows at that moment
//   BRIVON_TEST_FILE_TRACE=PATH    appends "flush;<path>", "rename;<from>;<to>" and the like: a
//                                  rename without a flush ("rename-unflushed"), a program put
//                                  back under its name ("put-back"); and "scaled;<alert>;<W>x<H>;
//                                  pool|window" for each copy of an entry picture scaled for a
//                                  W x H screen (alert counted from 0), on a pool thread or on
//                                  the thread that paints or waits for it, the windows' thread
//   BRIVON_TEST_FILE_WAIT_MS=MS    waits at most MS for a file another process holds, for rows
//                                  that hold one for good and only need the outcome
//   BRIVON_TEST_RECEIVE_LIMIT_MS=MS  gives up on a silent server after MS (downloads, pictures)
//   BRIVON_TEST_PICTURE_DEADLINE_MS=MS  the document's pictures' shared deadline, and a window's own
//                                  picture or terms transfer, after MS
//   BRIVON_TEST_CHECKIN_DEADLINE_MS=MS  ends the whole check-in exchange after MS
//   BRIVON_TEST_ACCEPT_DELAY_MS=MS  enables the terms' acceptance button after MS
//   BRIVON_TEST_FREE_MARGIN_MB=MB  keeps MB free on the drive instead of 256 MiB, so that a small
//                                  test drive shows a full disk in a few megabytes
//   BRIVON_TEST_FILE_HEADERS_DEADLINE_MS=MS  a package's or the archive tool's answer headers
//                                  within MS instead of two minutes
//   BRIVON_TEST_STALL_WINDOW_MS=MS  a package's or the archive tool's body fails as stalled when
//                                  less than 64 KiB arrive in MS instead of two minutes
//   BRIVON_TEST_OPENING_HOLD_MS=MS  the thread that opens an address within a deadline waits MS
//                                  before it connects, so that the caller gives up first
//   BRIVON_TEST_BUILT_IN_PORT=PORT  the built-in addresses (check-in, archive tool, update picture)
//                                  on the test build's port move to PORT, so that a second set of
//                                  end-to-end tests runs beside the first with a service of its own
// The six after the trace shorten rows that only need the outcome of a limit, not its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brivon {

#ifdef BRIVON_TEST_HOOKS
void TestKillPoint(std::string_view name);
void TestTraceFileEvent(std::string_view event, const std::wstring& path, const std::wstring& other = {});
void TestTraceScaled(size_t alert, int32_t width, int32_t height, std::string_view where);
unsigned long TestFileWaitLimitMs(unsigned long normal);
unsigned long TestReceiveLimitMs(unsigned long normal);
unsigned long TestPictureDeadlineMs(unsigned long normal);
unsigned long TestCheckinDeadlineMs(unsigned long normal);
unsigned long TestAcceptDelayMs(unsigned long normal);
unsigned long long TestFreeSpaceMarginBytes(unsigned long long normal);
unsigned long TestFileHeadersDeadlineMs(unsigned long normal);
unsigned long TestStallWindowMs(unsigned long normal);
unsigned long TestOpeningHoldMs();
unsigned short TestBuiltInPort(unsigned short normal);
std::wstring TestBuiltInAddress(std::wstring_view url);
#else
inline void TestKillPoint(std::string_view) {}
inline void TestTraceFileEvent(std::string_view, const std::wstring&, const std::wstring& = {}) {}
inline void TestTraceScaled(size_t, int32_t, int32_t, std::string_view) {}
inline unsigned long TestFileWaitLimitMs(unsigned long normal) { return normal; }
inline unsigned long TestReceiveLimitMs(unsigned long normal) { return normal; }
inline unsigned long TestPictureDeadlineMs(unsigned long normal) { return normal; }
inline unsigned long TestCheckinDeadlineMs(unsigned long normal) { return normal; }
inline unsigned long TestAcceptDelayMs(unsigned long normal) { return normal; }
inline unsigned long long TestFreeSpaceMarginBytes(unsigned long long normal) { return normal; }
inline unsigned long TestFileHeadersDeadlineMs(unsigned long normal) { return normal; }
inline unsigned long TestStallWindowMs(unsigned long normal) { return normal; }
inline unsigned long TestOpeningHoldMs() { return 0; }
inline unsigned short TestBuiltInPort(unsigned short normal) { return normal; }
inline std::wstring TestBuiltInAddress(std::wstring_view url) { return std::wstring(url); }
#endif

}  // namespace brivon
