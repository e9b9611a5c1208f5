#include <gtest/gtest.h>

#include "asn1/test_types.hpp"

TEST(Asn1Values, placeholder) { T::Message m; EXPECT_FALSE(m.has_seq()); }
