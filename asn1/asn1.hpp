#pragma once
// The ASN.1 runtime: value classes, visitors, the coding environment and PER.
#include "asn1/coder_env.hpp"
#include "asn1/descriptor.hpp"
#include "asn1/per.hpp"
#include "asn1/values.hpp"
#include "asn1/visitor.hpp"
