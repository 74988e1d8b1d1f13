// The resize module as plain arithmetic on made-up windows and controls, and
// once on the real main window.
#include "Resize.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

#include "frmMain.h"
#include "modCommon.h"
#include "qeltesting/message_box_driver.h"

namespace {

struct FakeControl : Resize::Control {
  FakeControl(std::string n, int l, int t, int w, int h) : name(std::move(n)), left(l), top(t), width(w), height(h) {}
  std::string Name() const override { return name; }
  std::optional<std::int32_t> Index() const override { return index; }
  std::optional<std::int32_t> Left() const override { return left; }
  std::optional<std::int32_t> Top() const override { return top; }
  std::optional<std::int32_t> Width() const override { return width; }
  std::optional<std::int32_t> Height() const override { return height; }
  bool Move(std::int32_t l, std::int32_t t, std::optional<std::int32_t> w, std::optional<std::int32_t> h) override {
    ++moves;
    if (on_move) on_move();
    if (h && refuses_height) return false;
    left = l;
    top = t;
    if (w) width = *w;
    if (h) height = *h;
    return true;
  }
  std::string name;
  std::optional<std::int32_t> index;
  std::int32_t left, top, width, height;
  bool refuses_height = false;
  int moves = 0;
  std::function<void()> on_move;
};

struct FakeWindow : Resize::Window {
  std::string Name() const override { return "frmMain"; }
  double Top() const override { return top; }
  double Left() const override { return 1200; }
  double Height() const override { return inner_height + 900; }
  double Width() const override { return inner_width + 120; }
  double InnerHeight() const override { return inner_height; }
  double InnerWidth() const override { return inner_width; }
  std::vector<Resize::Control*> Controls() override {
    std::vector<Resize::Control*> result;
    for (auto& c : controls) result.push_back(c.get());
    return result;
  }
  FakeControl& Add(std::string name, int l, int t, int w, int h) {
    controls.push_back(std::make_unique<FakeControl>(std::move(name), l, t, w, h));
    return *controls.back();
  }
  double top = 900;
  double inner_width = 10995;
  double inner_height = 7125;
  std::vector<std::unique_ptr<FakeControl>> controls;
};

class ResizeModuleTest : public testing::Test {
 protected:
  ResizeModuleTest()
      : exit_(window_.Add("cmdExit", 8400, 6240, 1815, 375)),
        combo_(window_.Add("Combo1", 8400, 2160, 2055, 315)),
        hidden_(window_.Add("cmdUnivariate", -72840, 3960, 1695, 375)) {
    combo_.refuses_height = true;
    module_.ResizeForm(window_);  // the first resize event records the design layout
  }
  Resize::Module module_;
  FakeWindow window_;
  FakeControl& exit_;
  FakeControl& combo_;
  FakeControl& hidden_;
};

TEST_F(ResizeModuleTest, FirstEventRecordsTheDesignLayoutAndMovesNothing) {
  ASSERT_EQ(module_.windows().size(), 1u);
  EXPECT_EQ(module_.windows()[0].inner_width, 10995);
  EXPECT_EQ(module_.windows()[0].inner_height, 7125);
  ASSERT_EQ(module_.controls().size(), 3u);
  EXPECT_EQ(module_.controls()[2].left, 2160) << "a hidden page's control is recorded where it shows";
  EXPECT_EQ(exit_.left, 8400);
  EXPECT_EQ(exit_.width, 1815);
  EXPECT_EQ(hidden_.left, -72840);
  EXPECT_FALSE(module_.busy());
}

TEST_F(ResizeModuleTest, WideningTo16000ScalesLeftsAndWidthsBy145Percent) {
  window_.inner_width = 16000;
  EXPECT_EQ(module_.WidthPercent(window_), 145);
  EXPECT_EQ(module_.HeightPercent(window_), 100);
  module_.ResizeForm(window_);
  EXPECT_EQ(exit_.left, 12180);
  EXPECT_EQ(exit_.width, 2631);
  // The height did not change: tops and heights stay as recorded.
  EXPECT_EQ(exit_.top, 6240);
  EXPECT_EQ(exit_.height, 375);
  // A hidden page's control stays hidden and shows at the scaled place.
  EXPECT_EQ(hidden_.left, 2160 * 145 / 100 - 75000);
  EXPECT_EQ(hidden_.left, -71868);
  // The drop-down box keeps its height but follows in width and position.
  EXPECT_EQ(combo_.left, 12180);
  EXPECT_EQ(combo_.width, 2979);
  EXPECT_EQ(combo_.height, 315);
}

TEST_F(ResizeModuleTest, HalvingTruncatesTowardZeroAndScalingBackRestoresTheDesign) {
  window_.inner_width = 10995 / 2.0;   // 5497.5: round(549750) div 10995 = 50
  window_.inner_height = 7125 / 2.0;   // 3562.5: round(356250) div 7125 = 50
  module_.ResizeForm(window_);
  EXPECT_EQ(exit_.left, 4200);
  EXPECT_EQ(exit_.width, 907);  // 1815 x 50 / 100 = 907.5, truncated
  EXPECT_EQ(exit_.top, 3120);
  EXPECT_EQ(exit_.height, 187);
  window_.inner_width = 10995;
  window_.inner_height = 7125;
  module_.ResizeForm(window_);
  EXPECT_EQ(exit_.left, 8400);
  EXPECT_EQ(exit_.width, 1815) << "sizes come from the recorded values, never the current ones";
  EXPECT_EQ(exit_.height, 375);
}

TEST_F(ResizeModuleTest, AMinimisedWindowAndANestedEventAreLeftAlone) {
  window_.inner_width = 16000;
  window_.top = 30000;
  module_.ResizeForm(window_);
  EXPECT_EQ(exit_.left, 8400);

  window_.top = 900;
  int nested_moves = -1;
  exit_.on_move = [&] {
    const int before = combo_.moves;
    module_.ResizeForm(window_);  // a resize event raised by the move itself
    nested_moves = combo_.moves - before;
    exit_.on_move = nullptr;
  };
  module_.ResizeForm(window_);
  EXPECT_EQ(nested_moves, 0);
  EXPECT_EQ(exit_.left, 12180);
  EXPECT_FALSE(module_.busy());
}

TEST(ResizeModule, ControlArraysAreKeptApartAndAWindowWithoutAreaIsSkipped) {
  Resize::Module module;
  FakeWindow window;
  FakeControl& first = window.Add("Label12", 120, 240, 975, 255);
  FakeControl& second = window.Add("Label12", 2160, 240, 375, 255);
  first.index = 0;
  second.index = 1;
  module.ResizeForm(window);
  window.inner_width = 21990;
  module.ResizeForm(window);
  EXPECT_EQ(first.left, 240);
  EXPECT_EQ(second.left, 4320);

  Resize::Module empty_module;
  FakeWindow empty;
  empty.inner_width = 0;
  FakeControl& c = empty.Add("cmdExit", 8400, 6240, 1815, 375);
  empty_module.ResizeForm(empty);
  empty.inner_width = 16000;
  empty_module.ResizeForm(empty);
  EXPECT_EQ(c.moves, 0);
  EXPECT_EQ(c.left, 8400);
}

TEST(ResizeModule, ScaleTruncatesTowardZero) {
  EXPECT_EQ(Resize::Scale(1815, 50), 907);
  EXPECT_EQ(Resize::Scale(-1815, 50), -907);
  EXPECT_EQ(Resize::Scale(2160, 145), 3132);
}

TEST(ResizeMainWindow, ControlsFollowTheWindowAndDropDownsKeepTheirHeight) {
  qel::MessageBoxDriver closer;
  frmMain window;
  window.show();
  QApplication::processEvents();
  const int combo_height = window.Combo1->height();
  // 16000 twips is 1066.67 pixels: the client area becomes 1067 wide, 16005 twips.
  window.resize(modCommon::PixelsFromTwips(16000), window.height());
  QApplication::processEvents();
  ASSERT_EQ(window.centralWidget()->width(), 1067);
  // w = round(1600500) div 10995 = 145: cmdExit at 12180, 2631 wide.
  EXPECT_EQ(window.cmdExit->x(), modCommon::PixelsFromTwips(12180));
  EXPECT_EQ(window.cmdExit->width(), modCommon::PixelsFromTwips(2631));
  EXPECT_EQ(window.cmdExit->y(), 416);
  EXPECT_EQ(window.Combo1->height(), combo_height);
  EXPECT_EQ(window.Combo1->width(), modCommon::PixelsFromTwips(2055 * 145 / 100));
}

// Page controls are laid out relative to the tab control, so a taller window
// scales their distance from the tab control's top, tab bar included: no
// control drifts by the tab bar's height times the change.
TEST(ResizeMainWindow, ControlsOnTabPagesKeepTheirPlaceInTheTabControl) {
  qel::MessageBoxDriver closer;
  frmMain window;
  window.show();
  QApplication::processEvents();
  // Twice the client height (7125 twips): h = 200.
  window.resize(window.width(), window.height() + window.centralWidget()->height());
  QApplication::processEvents();
  ASSERT_EQ(window.centralWidget()->height(), 2 * modCommon::PixelsFromTwips(7125));
  // The tab control itself: 1920 twips down becomes 3840.
  EXPECT_EQ(window.SSTab1->y(), modCommon::PixelsFromTwips(3840));
  // Each page's frame, designed at 120, 480 in the tab control, 3975 high.
  const struct {
    int page;
    QWidget* frame;
  } pages[] = {{0, window.Frame2}, {2, window.Frame3}};
  for (const auto& p : pages) {
    SCOPED_TRACE(p.frame->objectName().toStdString());
    window.SSTab1->setCurrentIndex(p.page);
    QApplication::processEvents();
    EXPECT_EQ(p.frame->mapTo(window.SSTab1, QPoint(0, 0)),
              QPoint(modCommon::PixelsFromTwips(120), modCommon::PixelsFromTwips(960)));
    EXPECT_EQ(p.frame->height(), modCommon::PixelsFromTwips(7950));
  }
  // Back to the design size, back to the design place.
  window.resize(window.width(), window.height() - window.centralWidget()->height() / 2);
  QApplication::processEvents();
  EXPECT_EQ(window.Frame3->mapTo(window.SSTab1, QPoint(0, 0)),
            QPoint(modCommon::PixelsFromTwips(120), modCommon::PixelsFromTwips(480)));
}

}  // namespace
