#include "telemetry/OneShotPost.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cstring>

namespace {

// Upload data readable once: sequential, and refusing to rewind. Not a
// QBuffer, which Qt would read straight from its array and rewind freely.
class ReadOnceDevice final : public QIODevice {
public:
    explicit ReadOnceDevice(const QByteArray& data)
        : m_data(data)
    {
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_data.size() - m_position + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, m_data.size() - m_position);
        std::memcpy(data, m_data.constData() + m_position, static_cast<size_t>(count));
        m_position += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_position = 0;
};

} // namespace

QNetworkReply* OneShotPost::post(QNetworkAccessManager& manager, QNetworkRequest request, const QByteArray& body)
{
    // With a known length and buffering off, Qt streams from the device
    // rather than keeping its own copy that it could send again.
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    auto* device = new ReadOnceDevice(body);
    QNetworkReply* reply = manager.post(request, device);
    device->setParent(reply);
    return reply;
}
