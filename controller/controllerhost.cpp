#include "controller/controllerhost.h"

#include "controller/controller.h"

ControllerHost::ControllerHost(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<RoadState>();
    thread.setObjectName(QStringLiteral("road"));
}

ControllerHost::~ControllerHost()
{
    stop();
}

void ControllerHost::start()
{
    if (controller != nullptr) {
        return;
    }
    // Moved before its thread runs: its timer, and the workers and the store
    // connection it makes once started, belong to that thread.
    controller = new Controller;
    controller->moveToThread(&thread);
    thread.start();
    connect(controller, &Controller::stateChanged, this, [this](const RoadState& state) {
        last = state;
        emit stateChanged(state);
    });
    connect(controller, &Controller::ticked, this, &ControllerHost::ticked, Qt::DirectConnection);
    QMetaObject::invokeMethod(controller, &Controller::start, Qt::QueuedConnection);
}

void ControllerHost::stop()
{
    if (controller == nullptr) {
        return;
    }
    Controller* doomed = controller;
    controller = nullptr;
    QMetaObject::invokeMethod(
        doomed,
        [doomed] {
            doomed->shutdown();
            delete doomed;
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void ControllerHost::setModemsOn(bool on)
{
    if (controller != nullptr) {
        QMetaObject::invokeMethod(
            controller, [c = controller, on] { c->setModemsOn(on); }, Qt::QueuedConnection);
    }
}

void ControllerHost::setSyncOn(bool on)
{
    if (controller != nullptr) {
        QMetaObject::invokeMethod(
            controller, [c = controller, on] { c->setSyncOn(on); }, Qt::QueuedConnection);
    }
}

void ControllerHost::requeueFailed()
{
    if (controller != nullptr) {
        QMetaObject::invokeMethod(
            controller, [c = controller] { c->requeueFailed(); }, Qt::QueuedConnection);
    }
}
