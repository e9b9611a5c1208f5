#pragma once
// The ASN.1 runtime: value classes, visitors, the coding environment, the
// PER, BER and value-notation coders, and the validity checkers.
#include "asn1/ber.hpp"
#include "asn1/coder_env.hpp"
#include "asn1/descriptor.hpp"
#include "asn1/per.hpp"
#include "asn1/valid.hpp"
#include "asn1/valuenotation.hpp"
#include "asn1/values.hpp"
#include "asn1/visitor.hpp"
