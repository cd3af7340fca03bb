#pragma once
// Answers every message box the application opens, as a user pressing OK would, and keeps
// what the last one said.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(int pollMs = 10)
    {
        connect(&poll, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                ++answered;
                box->accept();
            }
        });
        poll.start(pollMs);
    }

    QString title;
    QString text;
    int answered = 0;

private:
    QTimer poll;
};
