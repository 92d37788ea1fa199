#pragma once
// The page "SMS senden": receiver box, message field, button and trace list.

#include <QPlainTextEdit>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace tolvar {

class ReceiverBox;
class TMainForm;

// The message field: at most 160 characters, and no typed character below
// 32 but backspace, so no line break can be typed. Characters without a
// Windows-1252 byte are marked; they go out as "?".
class SmsMemo final : public QPlainTextEdit {
  public:
    static constexpr int kMaxCharacters = 160;
    SmsMemo();
    // Characters (not UTF-16 units) in the field.
    int Characters() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

  private:
    int Room() const;
    void Enforce();
};

class SmsPage final : public QWidget {
  public:
    explicit SmsPage(TMainForm& form);

    ReceiverBox* Receiver() const { return cbSMSReceiver; }
    SmsMemo* Memo() const { return MemoSMS; }
    QListWidget* Trace() const { return LBSMSTrace; }
    // What the page says about characters that go out as "?"; empty when none.
    QString CharsetNote() const;

  private:
    void MarkUnsendable();

    TMainForm& form_;
    ReceiverBox* cbSMSReceiver = nullptr;
    SmsMemo* MemoSMS = nullptr;
    QLabel* lbSMSCharset = nullptr;
    QPushButton* BtnSendSMS = nullptr;
    QListWidget* LBSMSTrace = nullptr;
};

}  // namespace tolvar
