#include "extras/about.h"

namespace extras {

using namespace Qt::StringLiterals;

const Credits& credits() {
    static const Credits c{u"ヨナミト開発チーム"_s, u"https://yonamito.example.org/"_s,
                           u"yonamito@example.org"_s};
    return c;
}

QString aboutPrompt() {
    const QString crlf = u"\r\n"_s;
    const rt::VersionRecord& record = rt::versionRecord();
    return record.productName + u" ver"_s + record.version + crlf + u"著作者："_s +
           credits().author + crlf + u"Webｻｲﾄ："_s + credits().webSite + crlf + u"メール："_s +
           credits().mail;
}

void About_Click(rt::FrmMain& /*f*/) {
    rt::msgBox(aboutPrompt(), rt::Critical, u"ﾊﾞｰﾁｬﾝ情報"_s);
}

} // namespace extras
