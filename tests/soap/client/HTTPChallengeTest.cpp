// Reading authentication challenges: the offered schemes, the realm, and
// the charset that asks for UTF-8 credentials.
#include <gtest/gtest.h>

#include "soap/client/HTTPChallenge.h"

using namespace vv;

namespace {

using S = THTTPAuthScheme;

TEST(HTTPChallenge, Schemes) {
  struct {
    const char *Name;
    const char *Challenge;
    THTTPAuthSchemes Expected;
  } cases[] = {
      {"none", "", {}},
      {"one scheme with parameters", "Basic realm=\"x\"", {S::Basic}},
      {"case does not matter", "DIGEST realm=\"x\", nonce=\"n\"", {S::Digest}},
      {"several, blanks around each part",
       " Negotiate ,NTLM,  basic realm=a",
       {S::Negotiate, S::NTLM, S::Basic}},
      {"unknown words are skipped", "Bearer, Mutual x, digest", {S::Digest}},
      {"a parameter named like a scheme is not one", "Foo basic=1", {}},
  };
  for (auto &c : cases) EXPECT_EQ(ChallengeSchemes(c.Challenge), c.Expected) << c.Name;
}

TEST(HTTPChallenge, Realm) {
  struct {
    const char *Name;
    const char *Challenge;
    const char *Expected;
  } cases[] = {
      {"quoted", "Basic realm=\"Flight Ops\"", "Flight Ops"},
      {"unquoted ends at a comma or blank", "Digest realm=ops, nonce=1", "ops"},
      {"the parameter name in any case", "Basic REALM=\"a\"", "a"},
      {"unterminated quote runs to the end", "Basic realm=\"open", "open"},
      {"none", "Basic charset=UTF-8", ""},
      {"empty quoted", "Basic realm=\"\"", ""},
  };
  for (auto &c : cases) EXPECT_EQ(ChallengeRealm(c.Challenge), c.Expected) << c.Name;
}

TEST(HTTPChallenge, WantsUTF8) {
  struct {
    const char *Challenge;
    bool Expected;
  } cases[] = {
      {"Basic realm=\"x\", charset=\"UTF-8\"", true},
      {"Basic realm=\"x\", charset=utf-8", true},
      {"Basic charset=\"ISO-8859-1\"", false},
      {"Basic realm=\"x\"", false},
      {"Basic charset=", false},
  };
  for (auto &c : cases) EXPECT_EQ(ChallengeWantsUTF8(c.Challenge), c.Expected) << c.Challenge;
}

} // namespace
