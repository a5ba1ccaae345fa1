#include "PasswordEvents.h"

#include <QAccessible>
#include <QLineEdit>
#include <QStyle>

#include <memory>

namespace {

// The handler that was in place before the mask, if any. Qt keeps one
// update handler per process, a plain function: what the mask passes on to
// has to be kept beside it.
QAccessible::UpdateHandler& nextHandler()
{
    static QAccessible::UpdateHandler next = nullptr;
    return next;
}

const QLineEdit* hiddenField(const QAccessibleEvent* event)
{
    const auto* field = qobject_cast<const QLineEdit*>(event->object());
    return field && field->echoMode() != QLineEdit::Normal ? field : nullptr;
}

QString masked(const QLineEdit& field, const QString& text)
{
    // NoEcho shows nothing, but the positions the event tells still need
    // characters to count.
    const QChar mask(field.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &field));
    return QString(text.size(), mask);
}

// The same event with the text a hidden field shows; nothing when the event
// carries no text.
std::unique_ptr<QAccessibleEvent> maskedEvent(const QLineEdit& field, QAccessibleEvent* event)
{
    QObject* object = event->object();
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        return std::make_unique<QAccessibleTextInsertEvent>(object, inserted->changePosition(),
                                                            masked(field, inserted->textInserted()));
    }
    case QAccessible::TextRemoved: {
        const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
        return std::make_unique<QAccessibleTextRemoveEvent>(object, removed->changePosition(),
                                                            masked(field, removed->textRemoved()));
    }
    case QAccessible::TextUpdated: {
        const auto* updated = static_cast<QAccessibleTextUpdateEvent*>(event);
        return std::make_unique<QAccessibleTextUpdateEvent>(object, updated->changePosition(),
                                                            masked(field, updated->textRemoved()),
                                                            masked(field, updated->textInserted()));
    }
    default:
        return nullptr;
    }
}

} // namespace

void PasswordEvents::install()
{
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(&update);
    if (previous != &update)
        nextHandler() = previous;
}

void PasswordEvents::update(QAccessibleEvent* event)
{
    const QLineEdit* field = hiddenField(event);
    const std::unique_ptr<QAccessibleEvent> mask = field ? maskedEvent(*field, event) : nullptr;
    forward(mask ? mask.get() : event);
}

void PasswordEvents::forward(QAccessibleEvent* event)
{
    if (QAccessible::UpdateHandler next = nextHandler()) {
        next(event);
        return;
    }
    // Without a handler Qt gives the event to the platform's bridge, which
    // is where it has to go: the mask stands aside for this one event.
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(&update);
}
