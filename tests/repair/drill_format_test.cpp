#include <gtest/gtest.h>

#include <string>

#include "repair/drill_format.h"

namespace {

struct Head {
  const char* name;
  std::string text;
  bool declares;
};
void PrintTo(const Head& head, std::ostream* out) { *out << head.name; }

class DrillFormat : public ::testing::TestWithParam<Head> {};

TEST_P(DrillFormat, Case) { EXPECT_EQ(DeclaresOwnFormat(GetParam().text), GetParam().declares); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, DrillFormat, ::testing::Values(
    Head{"DesignPackagesOwn", "M48\n%\nT01\nX007Y0065\nM30\n", false},
    Head{"Empty", "", false},
    Head{"NoLineEnd", "metric", true},
    Head{"CamfixsOwnHeaderOnly", "M48\r\nINCH,LZ\n\r\nT01C0.0320\r\n%\r\n", false},
    Head{"OwnHeaderInAnyCaseAndBlanks", "M48\n  inch,lz\t\n%\n", false},
    Head{"OwnHeaderBeforeAnotherDeclaration", "M48\nINCH,LZ\n\rM71\n%\n", true},
    Head{"MetricWithFormat", "M48\r\nMETRIC,TZ,000.000\r\n%\r\n", true},
    Head{"InchLeadingZerosWithFormat", "M48\nINCH,LZ,00.0000\n%\n", true},
    Head{"InchAlone", "M48\rINCH\r%\r", true},
    Head{"BlanksInsideAndACommentAfter", "M48\nMETRIC ,TZ\n%\n", true},
    Head{"CommentAfterTheStatement", "M48\nM71;metric\n%\n", true},
    Head{"M72InHeader", "M48\nM72\nT1C.02\nM95\n", true},
    Head{"WordsThatOnlyBeginLikeOne", "M48\nINCHES\nMETRICTZ\nM710\n%\n", false},
    Head{"CommentsDeclareNothing", ";METRIC,TZ\nM48\n;INCH\n%\n", false},
    Head{"CommentsAndPercentBeforeM48", ";made by a CAD package\n%\n\nM48\nMETRIC,LZ\n%\n", true},
    Head{"AfterTheEndOfHeader", "M48\nT01C0.8\n%\nMETRIC\nM71\n", false},
    Head{"AfterM95", "M48\nM95\nINCH,TZ\n", false},
    Head{"WithoutM48BeforeTheFirstHole", "T01C0.8\nT01\nM71\nX1Y1\n", true},
    Head{"WithoutM48AfterTheFirstHole", "T01\nX1Y1\nM71\nY2\n", false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
