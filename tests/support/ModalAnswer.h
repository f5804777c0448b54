#pragma once

// Answers a modal dialog that the code under test runs with exec(), and never
// lets the test wait for ever.
//
//   testsupport::AnswerModal<QFileDialog> pick([&](QFileDialog* d) {
//       d->selectFile(path);
//       d->accept();
//   });
//   QTest::mouseClick(browse, Qt::LeftButton); // returns once the dialog is answered
//
// The answer runs only while the event loop of the dialog's exec() runs: an
// answer given earlier (say while show() still processes events) is lost, as
// exec() then starts its loop on a dialog that is already done, and waits for
// ever. If no such dialog comes up within the limit, or it is still open
// `limit` after the answer, the current test fails naming the dialog type and
// every modal window opened since is rejected, so exec() returns and the test
// goes on. A dialog that was never answered fails the test at the end of the
// object's scope.

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <source_location>

namespace testsupport {

inline constexpr std::chrono::milliseconds DefaultModalLimit{5000};

class ModalAnswerer : public QObject
{
public:
    ~ModalAnswerer() override;
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    // The answer ran and the dialog closed.
    bool answered() const { return m_state == State::Closed; }

protected:
    ModalAnswerer(const QMetaObject& type, std::function<void(QWidget*)> answer,
                  std::chrono::milliseconds limit, std::source_location where);

private:
    enum class State
    {
        Waiting,
        Queued,
        Answered,
        Closed,
        GaveUp
    };

    void poll();
    bool insideItsLoop(const QWidget* dialog) const;
    void answerNow();
    void giveUp();
    void fail(const QString& why) const;

    const QMetaObject& m_type;
    std::function<void(QWidget*)> m_answer;
    std::chrono::milliseconds m_limit;
    std::source_location m_where;
    int m_baseLoopLevel;
    QPointer<QWidget> m_modalBefore; // left alone when giving up
    QPointer<QWidget> m_dialog;
    QDeadlineTimer m_deadline;
    QTimer m_poll;
    State m_state = State::Waiting;
};

template <typename Dialog> class AnswerModal final : public ModalAnswerer
{
public:
    explicit AnswerModal(std::function<void(Dialog*)> answer,
                         std::chrono::milliseconds limit = DefaultModalLimit,
                         std::source_location where = std::source_location::current())
        : ModalAnswerer(
              Dialog::staticMetaObject,
              [answer = std::move(answer)](QWidget* w) { answer(static_cast<Dialog*>(w)); }, limit,
              where)
    {}
};

} // namespace testsupport
