#include "ModalAnswer.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QThread>

namespace testsupport {

namespace {

constexpr std::chrono::milliseconds PollInterval{10};
constexpr int MaxModalsToClose = 16;

int loopLevel()
{
    return QThread::currentThread()->loopLevel();
}

// Ends every exec() running on top of `keep`, so the test can return.
void closeModalsExcept(const QWidget* keep)
{
    for (int i = 0; i < MaxModalsToClose; ++i) {
        QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal || modal == keep)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal.data()))
            dialog->reject();
        if (modal && modal->isVisible())
            modal->hide(); // also ends a QDialog's exec(), whatever reject() did
    }
    // A dialog finished before its exec() started its loop is hidden but still
    // modal, and that loop waits for ever: only hiding it again ends the loop.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && !dialog->isVisible() && dialog->testAttribute(Qt::WA_ShowModal)) {
            dialog->show();
            dialog->reject();
        }
    }
}

} // namespace

ModalAnswerer::ModalAnswerer(const QMetaObject& type, std::function<void(QWidget*)> answer,
                             std::chrono::milliseconds limit, std::source_location where)
    : m_type(type), m_answer(std::move(answer)), m_limit(limit), m_where(where),
      m_baseLoopLevel(loopLevel()), m_modalBefore(QApplication::activeModalWidget()),
      m_deadline(limit)
{
    m_poll.setInterval(PollInterval);
    connect(&m_poll, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_poll.start();
}

ModalAnswerer::~ModalAnswerer()
{
    // A dialog that never came while the test went on is a failure too; one
    // after an earlier failure would only repeat it.
    if (m_state != State::Closed && m_state != State::GaveUp && !QTest::currentTestFailed())
        fail(QStringLiteral("no %1 was answered").arg(QLatin1StringView(m_type.className())));
}

// exec() shows the dialog and only then starts its own loop, one level deeper
// than the one the answer was armed in.
bool ModalAnswerer::insideItsLoop(const QWidget* dialog) const
{
    return dialog && dialog->isVisible() && QApplication::activeModalWidget() == dialog &&
           loopLevel() > m_baseLoopLevel;
}

void ModalAnswerer::poll()
{
    if (m_state == State::Answered && !(m_dialog && m_dialog->isVisible())) {
        m_state = State::Closed;
        m_poll.stop();
        return;
    }
    if (m_deadline.hasExpired())
        return giveUp();
    if (m_state != State::Waiting)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!m_type.cast(modal) || !insideItsLoop(modal))
        return;
    // Queued behind whatever the dialog's loop has pending, and checked again
    // when it runs.
    m_state = State::Queued;
    m_dialog = modal;
    QMetaObject::invokeMethod(this, &ModalAnswerer::answerNow, Qt::QueuedConnection);
}

void ModalAnswerer::answerNow()
{
    if (m_state != State::Queued)
        return;
    if (!insideItsLoop(m_dialog)) {
        m_state = State::Waiting; // try again on the next poll
        return;
    }
    m_state = State::Answered;
    m_deadline.setRemainingTime(m_limit);
    m_answer(m_dialog);
    poll();
}

void ModalAnswerer::giveUp()
{
    const QString type = QLatin1StringView(m_type.className());
    const QString why = m_state == State::Answered
                            ? QStringLiteral("the %1 was still open %2 ms after its answer")
                            : QStringLiteral("no %1 ran its exec() loop within %2 ms");
    m_state = State::GaveUp;
    m_poll.stop();
    closeModalsExcept(m_modalBefore);
    fail(why.arg(type).arg(m_limit.count()));
}

void ModalAnswerer::fail(const QString& why) const
{
    QTest::qFail(qPrintable(why), m_where.file_name(), int(m_where.line()));
}

} // namespace testsupport
