#include "ui/WindowBands.h"

#include "ui_VelmoraMain.h"

#include <QApplication>
#include <QLayout>
#include <QScrollArea>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace velmora {

namespace {

// The window's four bands, top to bottom and each as wide as the window: title, tab area,
// preview, button bar. Each band stands at its full height (its maximum height) while the
// window has room, and a taller window only widens the empty band above the preview. A
// shorter window gives up that band first, then the preview's height down to its minimum,
// and only then the tab area's, whose pages scroll: the buttons stay on screen at any height
// the window can take.
class TWindowBandsLayout final : public QLayout {
 public:
  explicit TWindowBandsLayout(QWidget* Parent) : QLayout(Parent) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
  }
  ~TWindowBandsLayout() override {
    while (QLayoutItem* item = TWindowBandsLayout::takeAt(0)) delete item;
  }
  TWindowBandsLayout(const TWindowBandsLayout&) = delete;
  TWindowBandsLayout& operator=(const TWindowBandsLayout&) = delete;

  void addItem(QLayoutItem* Item) override { FItems.push_back(Item); }
  int count() const override { return static_cast<int>(FItems.size()); }
  QLayoutItem* itemAt(int Index) const override {
    return Index >= 0 && Index < count() ? FItems[static_cast<std::size_t>(Index)] : nullptr;
  }
  QLayoutItem* takeAt(int Index) override {
    if (Index < 0 || Index >= count()) return nullptr;
    QLayoutItem* item = FItems[static_cast<std::size_t>(Index)];
    FItems.erase(FItems.begin() + Index);
    return item;
  }
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal | Qt::Vertical; }

  QSize sizeHint() const override {
    QSize hint(0, 0);
    for (const QLayoutItem* item : FItems)
      hint = QSize(std::max(hint.width(), item->sizeHint().width()), hint.height() + Full(item));
    return hint;
  }
  QSize minimumSize() const override {
    QSize least(0, 0);
    for (const QLayoutItem* item : FItems)
      least =
          QSize(std::max(least.width(), item->minimumSize().width()), least.height() + Least(item));
    return least;
  }

  void setGeometry(const QRect& Area) override {
    QLayout::setGeometry(Area);
    if (FItems.size() != 4) return;
    QLayoutItem* const top = FItems[0];
    QLayoutItem* const tabs = FItems[1];
    QLayoutItem* const preview = FItems[2];
    QLayoutItem* const bottom = FItems[3];
    const int middle = std::max(0, Area.height() - Full(top) - Full(bottom));
    const int tabsHeight = std::clamp(middle - Least(preview), Least(tabs), Full(tabs));
    const int previewHeight = std::clamp(middle - tabsHeight, Least(preview), Full(preview));
    const auto place = [&Area](QLayoutItem* Item, int Top, int Height) {
      Item->setGeometry(QRect(Area.left(), Top, Area.width(), Height));
    };
    const int bottomTop = Area.top() + Area.height() - Full(bottom);
    place(top, Area.top(), Full(top));
    place(tabs, Area.top() + Full(top), tabsHeight);
    place(preview, bottomTop - previewHeight, previewHeight);
    place(bottom, bottomTop, Full(bottom));
  }

 private:
  static int Least(const QLayoutItem* Item) { return Item->minimumSize().height(); }
  static int Full(const QLayoutItem* Item) {
    return std::max(Least(Item), Item->maximumSize().height());
  }

  std::vector<QLayoutItem*> FItems;
};

}  // namespace

TWindowBands::TWindowBands(Ui::TfrmVelmora& Form) : ui(&Form) {
  UseWindowBands();
  MakePagesScroll();
}

// The form's box layout would share a shortage of height out evenly among the bands; these
// bands give way in order instead.
void TWindowBands::UseWindowBands() {
  delete ui->layWindow;  // its items go with it; the bands stay on the central widget
  ui->layWindow = nullptr;
  auto* bands = new TWindowBandsLayout(ui->centralwidget);
  for (QWidget* band :
       std::initializer_list<QWidget*>{ui->pnlTop, ui->pgcMain, ui->grpPreview, ui->pnlBottom})
    bands->addWidget(band);
}

// Each page keeps its layout and controls as the form has them, moved into a frameless scroll
// area that fills the page. A control that takes the focus is scrolled into view.
void TWindowBands::MakePagesScroll() {
  for (int i = 0; i < ui->pgcMain->count(); ++i) {
    QWidget* page = ui->pgcMain->widget(i);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    auto* contents = new QWidget(scroll);
    contents->setObjectName(page->objectName() + QStringLiteral("Contents"));
    // Given to the scroll area while still empty: the area measures what it is given, and
    // the controls measured now, before the window's style has polished them, would all be
    // measured again when the window is shown.
    scroll->setWidget(contents);
    contents->setLayout(page->layout());  // takes the layout with every control in it
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
  }
  // The connection goes with the bands, before the controls do.
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* Now) { KeepFocusedControlInView(Now); });
}

void TWindowBands::KeepFocusedControlInView(QWidget* Focused) {
  if (!Focused || !ui->pgcMain->isAncestorOf(Focused)) return;
  for (QWidget* parent = Focused->parentWidget(); parent; parent = parent->parentWidget()) {
    if (auto* scroll = qobject_cast<QScrollArea*>(parent)) {
      scroll->ensureWidgetVisible(Focused);
      return;
    }
  }
}

}  // namespace velmora
