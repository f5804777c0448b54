// The modal-dialog answerer: it answers from inside exec() even when showing
// the dialog runs the event loop, and it gives up instead of hanging.

#include "ModalAnswer.h"

#include <QDialog>
#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include <memory>
#include <utility>

using testsupport::AnswerModal;
using testsupport::ModalAnswerer;

namespace {

// Runs the event loop while it is being shown, as a slow show() may: an
// answer given there would be lost and exec() would wait for ever. It can
// lose such an answer itself, the first time it is shown.
class BusyShowDialog : public QDialog
{
public:
    bool acceptWhileShown = false;

    void setVisible(bool visible) override
    {
        QDialog::setVisible(visible);
        if (visible)
            QTest::qWait(100);
        if (visible && std::exchange(acceptWhileShown, false))
            accept();
    }
};

constexpr std::chrono::milliseconds ShortLimit{300};

} // namespace

class TestModalAnswer : public QObject
{
    Q_OBJECT

private slots:
    void answersInsideExec()
    {
        BusyShowDialog dialog;
        // Only for a broken answerer, whose answer got lost: exec() returns all the same.
        QTimer::singleShot(2 * testsupport::DefaultModalLimit, &dialog, [&dialog] {
            dialog.show();
            dialog.reject();
        });
        AnswerModal<QDialog> answer([](QDialog* d) { d->accept(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(answer.answered());
    }

    void givesUpAndClosesTheDialog_data()
    {
        QTest::addColumn<bool>("sameType");
        QTest::addColumn<bool>("lostAnswer");
        QTest::newRow("the answer leaves it open") << true << false;
        QTest::newRow("another type of dialog") << false << false;
        QTest::newRow("exec() of a finished dialog") << true << true;
    }

    void givesUpAndClosesTheDialog()
    {
        QFETCH(bool, sameType);
        QFETCH(bool, lostAnswer);
        BusyShowDialog dialog;
        dialog.acceptWhileShown = lostAnswer;
        std::unique_ptr<ModalAnswerer> answer;
        if (sameType)
            answer.reset(new AnswerModal<QDialog>([](QDialog*) {}, ShortLimit));
        else
            answer.reset(new AnswerModal<QFileDialog>([](QFileDialog*) {}, ShortLimit));
        QEXPECT_FAIL("", "the answerer reports the dialog it gave up on", Continue);
        const int result = dialog.exec();
        QVERIFY(!answer->answered());
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestModalAnswer)
#include "tst_modalanswer.moc"
