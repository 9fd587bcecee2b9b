// Whether this program is built with the thread sanitizer. Its run (cmake/SuiteTesting.cmake)
// repeats the tests of threaded code at several times their cost, to check the threads'
// interplay; the long tables of streams there keep only the cases that show each way the
// threads meet, and every case still runs in the other configurations.
#pragma once

namespace testsupport {

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace testsupport
