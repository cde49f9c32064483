// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/accessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace {

// The game's window, named after the game: its caption is the design's
// "Form1", which means nothing to a child who hears it.
class GameWindowAccessible final : public QAccessibleWidget
{
public:
    explicit GameWindowAccessible(QWidget *window) : QAccessibleWidget(window, QAccessible::Window)
    {}

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? QStringLiteral("Additions") : QAccessibleWidget::text(t);
    }
};

// A text box as Qt's own line edit presents it, but with its whole text as
// one run of (no) attributes. Qt 6.4 reports an empty run at every offset,
// and screen readers that split a text by its runs (Orca 43) then lose its
// last character: "46" is read "4", and "7" not at all.
class TextBoxAccessible final : public QAccessibleWidget,
                                public QAccessibleTextInterface,
                                public QAccessibleEditableTextInterface
{
public:
    explicit TextBoxAccessible(QLineEdit *box) : QAccessibleWidget(box, QAccessible::EditableText)
    {}

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? box()->text() : QAccessibleWidget::text(t);
    }
    void setText(QAccessible::Text t, const QString &text) override
    {
        if (t == QAccessible::Value)
            box()->setText(text);
        else
            QAccessibleWidget::setText(t, text);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = box()->isReadOnly();
        state.editable = !box()->isReadOnly();
        state.selectableText = true;
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The text.
    QString text(int startOffset, int endOffset) const override
    {
        return box()->text().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(box()->text().size()); }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &point) const override
    {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int endIndex) override { box()->setCursorPosition(endIndex); }

    // The cursor and the selection.
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void selection(int index, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *startOffset = box()->selectionStart();
            *endOffset = box()->selectionEnd();
        }
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        box()->setSelection(startOffset, endOffset - startOffset);
    }

    // Editing, as typing would.
    void deleteText(int startOffset, int endOffset) override
    {
        replaceText(startOffset, endOffset, {});
    }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        box()->setText(box()->text().replace(startOffset, endOffset - startOffset, text));
    }

private:
    QLineEdit *box() const { return static_cast<QLineEdit *>(widget()); }
};

// The announcer's notification. It has no place on screen and no children.
class AnnouncementAccessible final : public QAccessibleObject
{
public:
    explicit AnnouncementAccessible(Announcer *announcer) : QAccessibleObject(announcer) {}

    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<Announcer *>(object())->sentence() : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return {}; }
};

QAccessibleInterface *gameAccessible(const QString &className, QObject *object)
{
    if (auto *announcer = qobject_cast<Announcer *>(object))
        return new AnnouncementAccessible(announcer);
    if (className == u"QLineEdit")
        return new TextBoxAccessible(static_cast<QLineEdit *>(object));
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && widget->isWindow() && widget->objectName() == u"Form1")
        return new GameWindowAccessible(widget);
    return nullptr;
}

} // namespace

void installGameAccessibility()
{
    QAccessible::installFactory(gameAccessible);
}

void Announcer::say(const QString &sentence)
{
    m_sentence = sentence;
    // The new name first, so that a reader that has the old one hears this.
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
