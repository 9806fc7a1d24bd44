#pragma once

#include <QElapsedTimer>
#include <QString>

// Posts a job's progress notifications on the main thread without flooding
// it: a report is posted when it is at least 1/100 past the last one posted
// or 50 ms have gone by, and the final one (1.0) always. Use from the one
// thread that reports; the posts are queued in order.
class ProgressPoster final {
public:
    enum class Precision {
        Double,
        Float, // the value travels as a single-precision float
    };

    ProgressPoster(QString notificationName, QString path, Precision precision = Precision::Double);

    void report(double progress);

private:
    void post(double progress);

    QString m_name;
    QString m_path;
    Precision m_precision;
    double m_lastPosted = -1.0;
    QElapsedTimer m_sincePosted;
};
