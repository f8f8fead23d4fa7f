#include "tests/gui/settings/GuiSupport.h"

#include "protocol/Record.h"

namespace valdrune::test {

namespace {

// The process's QApplication, created before the first test and kept to the end.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "gui_settings";
        static char* argv[] = {name, nullptr};
        // Always the invisible platform, whatever the host's display or platform choice.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        if (QApplication::instance() == nullptr) app_ = new QApplication(argc, argv);
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

int FocusedControl(const CTemplateDialog& d, int* field) {
    const QWidget* focus = d.focusWidget();
    if (focus == nullptr) return 0;
    for (int id = 1; id < 1200; ++id) {
        const QWidget* c = d.Control(id);
        if (c == nullptr) continue;
        if (c == focus) return id;
        if (const auto* ip = dynamic_cast<const CIpAddressCtrl*>(c)) {
            for (int i = 0; i < CIpAddressCtrl::kFields; ++i) {
                if (ip->Field(i) == focus) {
                    if (field != nullptr) *field = i;
                    return id;
                }
            }
        }
    }
    return 0;
}

void ExpectChecked(const CTemplateDialog& d, std::initializer_list<int> on,
                   std::initializer_list<int> off) {
    for (int id : on) EXPECT_TRUE(d.IsChecked(id)) << "control " << id;
    for (int id : off) EXPECT_FALSE(d.IsChecked(id)) << "control " << id;
}

void ExpectEnabled(const CTemplateDialog& d, std::initializer_list<int> on,
                   std::initializer_list<int> off) {
    for (int id : on) EXPECT_TRUE(d.IsControlEnabled(id)) << "control " << id;
    for (int id : off) EXPECT_FALSE(d.IsControlEnabled(id)) << "control " << id;
}

std::uint32_t Ip4(const char* dotted) {
    std::uint32_t v = 0;
    EXPECT_TRUE(ParseIpv4(dotted, v)) << dotted;
    return v;
}

}  // namespace valdrune::test
