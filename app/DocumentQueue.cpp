#include "app/DocumentQueue.h"

QList<DocumentQueue::Request> DocumentQueue::requestsOf(const LaunchArguments& launch)
{
    using Action = LaunchArguments::Action;
    if (launch.paths.isEmpty())
        return {};
    switch (launch.action) {
    case Action::Open:
        // Of several documents only the first is opened, as ever.
        return { Request { Action::Open, { launch.paths.first() } } };
    case Action::ExtractHere: {
        QList<Request> requests;
        for (const QString& archive : launch.paths)
            requests.append(Request { Action::ExtractHere, { archive } });
        return requests;
    }
    case Action::Compress:
        return { Request { Action::Compress, launch.paths } };
    }
    return {};
}

bool DocumentQueue::enqueue(const Request& request)
{
    if (m_waiting.contains(request))
        return false;
    m_waiting.append(request);
    return true;
}

std::optional<DocumentQueue::Request> DocumentQueue::takeNext()
{
    if (m_waiting.isEmpty())
        return std::nullopt;
    return m_waiting.takeFirst();
}
