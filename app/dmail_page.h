#pragma once
// The page "D-Mail senden": receiver, message and own MSN, the send button,
// the status list and the message log.

#include <QWidget>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QSortFilterProxyModel;

namespace tolvar {

class TMainForm;

class DMailPage final : public QWidget {
  public:
    explicit DMailPage(TMainForm& form);

    QComboBox* Receiver() const { return cbDMailReceiver; }
    QListView* ReceiverList() const { return receiverList_; }
    QListWidget* MessageLog() const { return LBDMailRecv; }
    QListWidget* StatusList() const { return LBDMailTrace; }
    // What the page says about characters that go out as "?"; empty when none.
    QString CharsetNote() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildReceiver();
    void SendClicked();
    // The list entry selected, if any ("Eintrag &entfernen" removes it).
    std::string SelectedReceiver() const;
    void SelectMatchingReceiver(const QString& text);
    void NameUnsendable(const QString& text);

    TMainForm& form_;
    QComboBox* cbDMailReceiver = nullptr;
    QListView* receiverList_ = nullptr;
    QSortFilterProxyModel* sorted_ = nullptr;
    QLineEdit* edDMailSend = nullptr;
    QLabel* lbDMailCharset = nullptr;
    QLineEdit* edDMailOwnMSN = nullptr;
    QPushButton* BtnSendDMail = nullptr;
    QListWidget* LBDMailTrace = nullptr;
    QListWidget* LBDMailRecv = nullptr;
};

}  // namespace tolvar
