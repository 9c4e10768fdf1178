#pragma once

#include <string>

namespace corvane::service {

// The stand-in's answer to the schema demonstration message: a whole size-prefixed
// TestMessage (already accepted by its table's verifier) is answered with a TestResponse
// carrying the same five values, a plain buffer finished with "TESR". A message that does not
// hold a TestMessage is answered with an empty TestResponse.
std::string answerTestMessage(const std::string& message);

}  // namespace corvane::service
