#include "window/runtime_error.h"

namespace rt {

using namespace Qt::StringLiterals;

QString RuntimeError::standardMessage(int code) {
    switch (code) {
    case OutOfMemory:
        return u"メモリが不足しています。"_s;
    case InternalError:
        return u"内部エラーです。"_s;
    case BadFileName:
        return u"ファイル名が不正です。"_s;
    case FileNotFound:
        return u"ファイルが見つかりません。"_s;
    case DeviceIoError:
        return u"デバイス I/O エラーです。"_s;
    case DiskFull:
        return u"ディスクの空き容量が不足しています。"_s;
    case InputPastEndOfFile:
        return u"ファイルの終わりを越えて入力しようとしました。"_s;
    case PermissionDenied:
        return u"書き込みできません。"_s;
    case PathNotFound:
        return u"パスが見つかりません。"_s;
    case InvalidPropertyValue:
        return u"プロパティの値が不正です。"_s;
    case PathFileAccessError:
    default:
        return u"パス/ファイル アクセス エラーです。"_s;
    }
}

} // namespace rt
