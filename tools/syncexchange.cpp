#include "syncexchange.h"

#include <QEventLoop>

TSyncLink::TSyncLink()
{
    callback_.Callback = [this](const TFramePtr &answer) {
        if (done_)
            return; // a late second burst; the caller has what it asked for
        answer_ = answer;
        done_ = true;
    };
    callback_.ShowError = [this](const std::exception &e) {
        if (done_)
            return;
        error_ = e.what();
        done_ = true;
    };
    engine_ = std::make_unique<TDeviceInterface>(nullptr, &callback_);
    switchOff_ = std::make_unique<TSwitchOff>(*engine_, callback_);
}

TSyncLink::~TSyncLink()
{
    switchOff_.reset();
    engine_.reset();
}

TSwitchOffResult TSyncLink::SwitchOff(std::vector<TSwitchOffFrame> frames, int maxMs)
{
    return switchOff_->Run(std::move(frames), maxMs);
}

TFramePtr TSyncLink::Exchange(const TFramePtr &request)
{
    answer_.reset();
    error_.clear();
    done_ = false;
    engine_->AddCmd(request);
    engine_->SendNextCmd();
    QEventLoop loop;
    while (!done_)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    if (!error_.empty())
        throw EKestError(error_);
    return answer_;
}
