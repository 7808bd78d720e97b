#include "look.h"

#include "splice.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

#include "icon/graftwell.xpm"

namespace ui {

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString productCaption() { return QString::fromStdString(layout::productCaption()); }
QString productVersion() { return QString::fromStdString(layout::productVersion()); }

QRect pixels(const layout::Rect& twips) {
    return {layout::px(twips.left), layout::px(twips.top), layout::px(twips.width), layout::px(twips.height)};
}

QFont windowFont() {
    const QString face = qs(layout::kFontFace);
    QFont f(face);
    f.setPointSizeF(layout::kFontPoints);
    // Font matching always finds something; only the real family keeps its metrics.
    if (QFontInfo(f).family().compare(face, Qt::CaseInsensitive) != 0) {
        f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        f.setPointSizeF(layout::kFontPoints);
    }
    f.setWeight(QFont::Normal);
    return f;
}

QFont boldFont() {
    QFont f = windowFont();
    f.setWeight(QFont::Bold);
    return f;
}

QColor greyText(const QPalette& palette) {
    const QColor a = palette.color(QPalette::WindowText), b = palette.color(QPalette::Window);
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

QIcon appIcon() { return QIcon(QPixmap::fromImage(QImage(graftwell_xpm))); }

layout::Measure measure(const QWidget* widget) {
    return [metrics = widget->fontMetrics()](std::string_view text) { return metrics.horizontalAdvance(qs(text)); };
}

PathLabel::PathLabel(QWidget* parent, const layout::Window& table, const layout::Control& control)
    : QLabel(parent), table_(table), control_(control) {}

void PathLabel::setPath(const QString& path) {
    path_ = path;
    setToolTip(path == qs(splice::kNoMapLoaded) ? QString() : path);
    refit();
}

void PathLabel::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::FontChange) refit();
}

void PathLabel::refit() {
    const int line = fontMetrics().lineSpacing() * layout::kTwipsPerInch / layout::kBaseDpi;
    std::vector<int> rooms;
    for (const int twips : table_.lineRooms(control_, line)) rooms.push_back(layout::px(twips));
    QStringList lines;
    for (const std::string& l : layout::fitPath(path_.toStdString(), rooms, measure(this)))
        lines << QString::fromStdString(l);
    setText(lines.join(QLatin1Char('\n')));
}

namespace {

// Narrows the widget's font, as little as needed, so that `text` fits in
// `room` pixels; wider desktop fonts would otherwise run into the next control.
void fitText(QWidget* widget, const QString& text, int room) {
    QFont f = widget->font();
    for (int stretch = 100; stretch >= 75; stretch -= 5) {
        f.setStretch(stretch);
        if (QFontMetrics(f).horizontalAdvance(text) <= room) break;
    }
    if (f.stretch() != 100) widget->setFont(f);
}

QWidget* create(const layout::Window& table, const layout::Control& c, QWidget* parent) {
    const QString text = qs(c.text);
    switch (c.kind) {
    case layout::Kind::Label:
        return new QLabel(text, parent);
    case layout::Kind::PathLabel: {
        auto* l = new PathLabel(parent, table, c);
        l->setPath(text);
        return l;
    }
    case layout::Kind::Line: {
        auto* f = new QFrame(parent);
        f->setFrameShape(QFrame::NoFrame);
        f->setAutoFillBackground(true);
        QPalette pal = f->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::WindowText));
        f->setPalette(pal);
        return f;
    }
    case layout::Kind::Button: {
        auto* b = new QPushButton(text, parent);
        // Enter presses the focused button, as on the platform the layout comes from.
        b->setAutoDefault(true);
        return b;
    }
    case layout::Kind::TextBox: {
        auto* e = new QLineEdit(text, parent);
        if (c.maxLength > 0) e->setMaxLength(c.maxLength);
        return e;
    }
    case layout::Kind::Frame:
        return new QFrame(parent);
    }
    return nullptr;
}

} // namespace

std::map<std::string_view, QWidget*> render(const layout::Window& table, QWidget* window) {
    window->setObjectName(qs(table.name));
    window->setWindowTitle(qs(table.caption));
    window->setFont(windowFont());
    const QSize client(layout::px(table.clientWidth), layout::px(table.clientHeight));
    if (table.resizable)
        window->resize(client);
    else
        window->setFixedSize(client);

    std::map<std::string_view, QWidget*> made;
    for (const layout::Control& c : table.controls) {
        QWidget* parent = c.parent.empty() ? window : made.at(c.parent);
        QWidget* w = create(table, c, parent);
        w->setObjectName(qs(c.name));
        QRect r = pixels(c.rect);
        if (auto* frame = qobject_cast<QFrame*>(parent); frame && parent != window) // from the frame's inner corner
            r.translate(frame->frameWidth(), frame->frameWidth());
        w->setGeometry(r);
        if (auto* l = qobject_cast<QLabel*>(w)) {
            // Texts are data (paths, messages): never read as markup.
            l->setTextFormat(Qt::PlainText);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        if (c.notes & layout::kBold) w->setFont(boldFont());
        if (c.notes & layout::kGreyText) {
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, greyText(pal));
            w->setPalette(pal);
        }
        if (c.notes & layout::kSunken) static_cast<QFrame*>(w)->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        if (!c.focusable()) w->setFocusPolicy(Qt::NoFocus);
        if (c.kind == layout::Kind::Label || c.kind == layout::Kind::Button)
            fitText(w, qs(c.text), layout::px(table.textRoom(c)));
        made[c.name] = w;
    }
    const auto order = table.tabOrder();
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(made.at(order[i - 1]->name), made.at(order[i]->name));
    if (!order.empty()) made.at(order.front()->name)->setFocus();
    return made;
}

} // namespace ui
