#include "store/myrecvsms.h"

MyRecvSms::MyRecvSms(QObject* parent) : QObject(parent) {}
