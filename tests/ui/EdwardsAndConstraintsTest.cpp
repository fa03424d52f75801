// The Edwards-curve key type on the Key tab and the name constraints of a CA on the Extensions
// tab: which controls they enable and what they offer.
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

namespace velmora::test {
namespace {

class EdwardsAndConstraints : public WindowFixture {};

TEST_F(EdwardsAndConstraints, EachKeyTypeEnablesItsOwnOptionsOnly) {
  ShowTab("tabKey");
  auto* algorithms = Control<QComboBox>("cbEdAlg");
  ASSERT_EQ(algorithms->count(), 2);
  EXPECT_EQ(algorithms->itemText(0), "Ed25519");
  EXPECT_EQ(algorithms->itemText(1), "Ed448");
  EXPECT_EQ(algorithms->currentText(), "Ed25519");
  EXPECT_EQ(Control<QRadioButton>("rbEd")->text(), "Edwards Curve (EdDSA)");
  struct Case {
    const char* radio;
    bool rsa, ecc, ed;
  };
  for (const Case& c : {Case{"rbEd", false, false, true}, Case{"rbRSA", true, false, false},
                        Case{"rbECC", false, true, false}, Case{"rbEd", false, false, true}}) {
    SCOPED_TRACE(c.radio);
    Click(c.radio);
    EXPECT_EQ(Control<QGroupBox>("grpRSA")->isEnabled(), c.rsa);
    EXPECT_EQ(Control<QGroupBox>("grpECC")->isEnabled(), c.ecc);
    EXPECT_EQ(Control<QGroupBox>("grpEd")->isEnabled(), c.ed);
  }
}

TEST_F(EdwardsAndConstraints, TheNameConstraintsAreOpenOnlyForACA) {
  ShowTab("tabExt");
  for (bool isCA : {false, true, false}) {
    SCOPED_TRACE(isCA);
    if (Control<QCheckBox>("chkIsCA")->isChecked() != isCA) Click("chkIsCA");
    for (const char* name : {"edtPermitted", "edtExcluded", "lblPermitted", "lblExcluded"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Control<QWidget>(name)->isEnabled(), isCA);
    }
  }
}

}  // namespace
}  // namespace velmora::test
