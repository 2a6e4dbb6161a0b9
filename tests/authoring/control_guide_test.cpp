// The control guide covers exactly the controls the effect declares, and the README shows it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "authoring/control_guide.h"
#include "session/host_session.h"

namespace {

TEST(ControlGuide, DescribesEveryDeclaredControlAndNothingElse) {
  std::unique_ptr<HostSession> session = startSession(VORTELLINE_MODULE_PATH);
  std::set<std::string> declared;
  for (int position = 1; position < static_cast<int>(session->params.size()); ++position) {
    if (session->params[position].def.param_type != PF_Param_GROUP_END) {
      declared.insert(qualifiedName(session->params, position));
    }
  }
  for (const std::string& name : declared) {
    const ControlGuide* guide = findControlGuide(name);
    ASSERT_NE(guide, nullptr) << name << " has no guide entry";
    EXPECT_NE(std::string(guide->effect), "") << name;
  }
  std::set<std::string> guided;
  for (const ControlGuide& guide : controlGuides()) {
    EXPECT_TRUE(declared.count(guide.name)) << guide.name << " is not a control the effect declares";
    EXPECT_TRUE(guided.insert(guide.name).second) << guide.name << " is described twice";
  }
  EXPECT_EQ(findControlGuide("tint/amount"), findControlGuide("Tint/Amount"));
  EXPECT_EQ(findControlGuide("Hue"), nullptr);  // only qualified names: three groups have one
}

TEST(ControlGuide, ReadmeControlsSectionIsTheGeneratedTable) {
  std::ifstream file(std::string(VORTELLINE_SOURCE_DIR) + "/README.md", std::ios::binary);
  std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string begin = "<!-- controls begin: docs/update_controls_section.sh writes this table -->\n";
  const std::string end = "<!-- controls end -->";
  size_t first = readme.find(begin);
  size_t last = readme.find(end);
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  first += begin.size();
  EXPECT_EQ(readme.substr(first, last - first), controlGuideMarkdown())
      << "run docs/update_controls_section.sh after changing authoring/control_guide.cpp";
}

}  // namespace
