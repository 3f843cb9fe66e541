// The shared reference files (real scenes, objects, pictures and codec vectors) live beside
// the checkout, not in it. A clone without them still runs every other test: the tests that
// compare against them skip with one line naming where they looked.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace orvl::test {

// Folder of the shared reference files, e.g. "/work/shared/testdata".
const std::string& shared_testdata_dir();

// `relative` inside that folder ("images/bmp24_w1x3.bmp").
std::string shared_testdata(const std::string& relative);

// True when the folder exists.
bool shared_testdata_present();

// "shared test data not found at <folder>".
std::string shared_testdata_missing();

}  // namespace orvl::test

// Ends the current test as skipped when the shared reference files are absent. Use it in the
// test body before the first read of them; assertions made earlier still count.
#define ORVL_REQUIRE_SHARED_TESTDATA()                                            \
  do {                                                                            \
    if (!::orvl::test::shared_testdata_present())                                 \
      GTEST_SKIP() << ::orvl::test::shared_testdata_missing();                    \
  } while (0)
