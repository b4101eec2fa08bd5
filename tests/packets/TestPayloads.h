// The packet tests' payload helpers: the shared byte-level helpers, under
// the names these tests use.
#ifndef VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H
#define VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H

#include "support/Bytes.h"

namespace vt_test {

using vt::test::Append;
using vt::test::Bytes;
using vt::test::Deflate;
using vt::test::ExactCopy;
using vt::test::Pattern;
using vt::test::PutF32;
using vt::test::PutU32;

}  // namespace vt_test

#endif  // VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H
