// Nothing the window shows is cut: every tab caption, caption, button, group
// title, grid column and list text is measured with its font's metrics
// against the widget that shows it, at the desktop's font and at larger and
// smaller ones. And Qt's own texts are German.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <QTranslator>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "app/qt_translations.h"
#include "rules/rule_editor.h"
#include "support/window_host.h"

namespace tolvar {
namespace {

// The text as drawn: "&" marks the access key and is not shown.
QString Shown(QString text) {
    text.replace("&&", "\x01");
    text.remove('&');
    text.replace('\x01', '&');
    return text;
}

std::string Rule(const std::string& msn, const std::string& caller, int action) {
    return "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar\\MSN\\" + msn + "\\" + caller +
           "\\00:00]\n\"Action\"=dword:0000000" + std::to_string(action) + "\n\"Param\"=\"\"\n\n";
}

// Labels such as people write them, and the longest of the fallbacks.
const std::string kRules =
    "[HKEY_CURRENT_USER\\Software\\Brenwick\\Tolvar]\n"
    "\"ShowISDNTab\"=dword:00000001\n\n" +
    Rule("5551234 Privat", "0891234567 Zahnarzt", 1) +
    Rule("5551234 Privat", "0401234567 Datenzentrale", 3) +
    Rule("5551234 Privat", "Unbekannt/Analog", 0) + Rule("Ihre TEL/FAX Nummer !", "Sonstige", 4);

class Fit : public test::WindowHost {
  public:
    // Inside a page's own scroll area (not a list's or a grid's).
    static bool InScrollingPage(QWidget* child, QWidget* page) {
        for (QWidget* p = child->parentWidget(); p && p != page; p = p->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(p))
                return area->widget()->isAncestorOf(child);
        return false;
    }

    // What does not fit on the page, one line each.
    std::vector<std::string> Cut(Page page) {
        engine->SetActivePage(page);
        QApplication::processEvents();
        QWidget* w = form->PageWidget(page);
        problems_.clear();
        for (QWidget* child : w->findChildren<QWidget*>()) {
            if (!child->isVisibleTo(w)) continue;
            const QRect on(child->mapTo(w, QPoint(0, 0)), child->size());
            if (InScrollingPage(child, w)) {
                // A page that scrolls shows all of its height, but only its width.
                if (on.left() < 0 || on.right() > w->rect().right())
                    Problem(child, "lies beside its page");
            } else if (!w->rect().contains(on) &&
                       !child->parentWidget()->inherits("QAbstractScrollArea")) {
                Problem(child, "lies outside its page");
            }
            if (auto* label = qobject_cast<QLabel*>(child)) Check(label);
            if (auto* box = qobject_cast<QCheckBox*>(child))
                Wider(box, box->sizeHint().width(), box->width(), box->text());
            if (auto* button = qobject_cast<QPushButton*>(child)) {
                // The style draws the text inside the button's contents.
                QStyleOptionButton opt;
                opt.initFrom(button);
                opt.text = button->text();
                const QRect contents =
                    button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
                Wider(button, Width(button, button->text()), contents.width(), button->text());
            }
            if (auto* group = qobject_cast<QGroupBox*>(child))
                Wider(group, Width(group, group->title()) + 8, group->width(), group->title());
            if (auto* list = qobject_cast<QListWidget*>(child))
                for (int i = 0; i < list->count(); ++i)
                    Wider(list, Width(list, list->item(i)->text()) + 4, list->viewport()->width(),
                          list->item(i)->text());
        }
        return problems_;
    }

    void Tabs() {
        auto* tabs = form->Pages();
        QTabBar* bar = tabs->tabBar();
        int all = 0;
        for (int i = 0; i < tabs->count(); ++i) {
            // The style sheet's padding, 4 pixels on either side.
            Wider(bar, Width(bar, tabs->tabText(i)) + 8, bar->tabRect(i).width(), tabs->tabText(i));
            all += bar->tabRect(i).width();
        }
        Wider(bar, all, tabs->width(), "all tabs");
    }

    void Grid() {
        auto* grid = form->findChild<QTableView*>("PropGrid");
        QHeaderView* header = grid->horizontalHeader();
        const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin);
        for (int c = 0; c < 3; ++c) {
            const QString text = header->model()->headerData(c, Qt::Horizontal).toString();
            Wider(header, Width(header, text) + margin, header->sectionSize(c), text);
        }
        // The cells draw their text 2 pixels in from the left and the top.
        for (const char* action : kActionTexts)
            Wider(grid, Width(grid, action) + 2, grid->columnWidth(1), action);
        Wider(grid, Width(grid, "00:00:00") + 2, grid->columnWidth(0), "00:00:00");
        Wider(grid, grid->fontMetrics().height() + 2, grid->rowHeight(0), "row height");
        Wider(header, header->fontMetrics().height(), header->height(), "header height");

        // The controls laid over a cell show their whole text too.
        const auto click = [grid](int column) {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                              grid->visualRect(grid->model()->index(0, column)).center());
        };
        click(0);
        auto* picker = form->findChild<QTimeEdit*>("TimePicker");
        auto* timeText = picker->findChild<QLineEdit*>();
        Wider(picker, Width(timeText, picker->text()) + 4, timeText->contentsRect().width(),
              picker->text());
        click(1);
        auto* action = form->findChild<QComboBox*>("cbAction");
        QStyleOptionComboBox opt;
        opt.initFrom(action);
        opt.frame = true;
        const QRect field = action->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                            QStyle::SC_ComboBoxEditField, action);
        for (const char* text : kActionTexts)
            Wider(action, Width(action, text), field.width(), text);
    }

    void Tree() {
        auto* tree = form->findChild<QTreeWidget*>("TreeView");
        tree->expandAll();
        QApplication::processEvents();
        QStyleOptionViewItem opt;
        opt.initFrom(tree);
        opt.decorationSize = tree->iconSize();
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            const QModelIndex index = tree->indexFromItem(*it);
            // Indented as its level, then its icon and label as drawn.
            Wider(tree,
                  tree->visualRect(index).x() + tree->itemDelegate()->sizeHint(opt, index).width(),
                  tree->viewport()->width(), (*it)->text(0));
        }
    }

    void Lines(QListView* list, const std::vector<std::string>& lines) {
        for (const auto& line : lines)
            Wider(list, Width(list, QString::fromStdString(line)) + 4, list->viewport()->width(),
                  QString::fromStdString(line));
    }

    std::vector<std::string> problems_;

  private:
    static int Width(const QWidget* w, const QString& text) {
        return w->fontMetrics().horizontalAdvance(Shown(text));
    }
    void Wider(const QWidget* w, int needed, int has, const QString& what) {
        if (needed > has)
            problems_.push_back(w->objectName().toStdString() + " \"" + what.toStdString() +
                                "\" needs " + std::to_string(needed) + ", has " +
                                std::to_string(has));
    }
    void Problem(const QWidget* w, const std::string& what) {
        problems_.push_back(w->objectName().toStdString() + " (" + w->metaObject()->className() +
                            ") " + what);
    }
    void Check(const QLabel* label) {
        if (label->text().isEmpty()) return;
        if (label->wordWrap()) {
            Wider(label, label->heightForWidth(label->contentsRect().width()), label->height(),
                  label->text());
            return;
        }
        for (const QString& line : label->text().split('\n'))
            Wider(label, label->fontMetrics().horizontalAdvance(Shown(line)),
                  label->contentsRect().width(), line);
    }
};

TEST(WindowFit, EveryTextFitsAtTheDesktopFontAndAtOthers) {
    const QFont desktop = QApplication::font();
    QFont small = desktop, large = desktop, larger = desktop;
    small.setPointSizeF(8);
    large.setPointSizeF(12);
    larger.setPointSizeF(14);
    for (const QFont& font : {desktop, small, large, larger}) {
        SCOPED_TRACE(font.toString().toStdString());
        QApplication::setFont(font);
        Fit fit;
        fit.Start(kRules);
        fit.engine->ShowWindow(Page::Protokoll);
        fit.engine->Log().AppendLine("[07.12.2026]");
        const std::vector<std::string> lines = {
            "09:30:00   0891234567 -> 5551234  Zahnarzt  abgehoben 00:12:34",
            "09:31:00   017812345 -> 5551235  Mutter (klingel.wav)  verbunden.",
            "09:32:00   0401234567 Daten -> 5551234  Datenzentrale  abgefangen."};
        for (const auto& line : lines) fit.engine->Log().AppendLine(line);

        // The window keeps its size whatever it shows.
        EXPECT_EQ(fit.form->minimumSize(), fit.form->maximumSize());
        for (Page page : kAllPages) {
            SCOPED_TRACE(std::string(PageCaption(page)));
            EXPECT_EQ(fit.Cut(page), std::vector<std::string>{});
        }
        fit.problems_.clear();
        fit.Tabs();
        fit.engine->SetActivePage(Page::Ueberwachung);
        fit.Tree();
        fit.Grid();
        fit.Lines(fit.form->EventLogList(), lines);
        EXPECT_EQ(fit.problems_, std::vector<std::string>{});
    }
    QApplication::setFont(desktop);
}

TEST(WindowFit, GrowsWithTheFontAndNeverShrinks) {
    const QFont desktop = QApplication::font();
    int lastWidth = 0;
    for (double points : {6.0, 10.0, 14.0}) {
        QFont font = desktop;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        test::WindowHost w;
        w.Start();
        const QSize size = w.form->Pages()->size();
        EXPECT_GE(size.width(), 520) << points;
        EXPECT_GE(size.height(), 296) << points;
        EXPECT_GE(size.width(), lastWidth) << points;
        lastWidth = size.width();
    }
    QApplication::setFont(desktop);
}

TEST(QtTexts, StandardMenusAndButtonsAreGerman) {
    QTranslator* german = InstallQtTranslations(*qApp);
    ASSERT_NE(german, nullptr) << "Qt's translations (qt6-translations-l10n) are missing";
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << Shown(a->text()).split('\t').front();
    EXPECT_TRUE(texts.contains("Rückgängig")) << texts.join(", ").toStdString();
    EXPECT_TRUE(texts.contains("Einfügen")) << texts.join(", ").toStdString();
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(Shown(buttons.button(QDialogButtonBox::Cancel)->text()), "Abbrechen");
    QCoreApplication::removeTranslator(german);
    delete german;
}

}  // namespace
}  // namespace tolvar
