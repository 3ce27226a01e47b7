// Reading table sitefamily.
#include "scan/sitefamilies.h"

#include "db/common.h"
#include "db/data.h"
#include "scan/tsitebatch.h"

void SiteFamilies::Load(TDbQuery& query, AddressFamily fallback) {
    m_fallback = fallback;
    m_chosen.clear();
    CreateTableIfMissing(query, "sitefamily",
                         {"CREATE TABLE sitefamily (CODE varchar(12) not null, Family varchar(4) not null)"});
    OpenStatement(query, {"SELECT CODE, Family FROM sitefamily"});
    for (; !query.Eof(); query.Next()) {
        AddressFamily family;
        if (ParseAddressFamily(VarToStrTrim(query.FieldByName("Family")), family))
            m_chosen[TSiteBatch::GroupKey(VarToStrTrim(query.FieldByName("CODE")))] = family;
    }
    query.Close();
}

AddressFamily SiteFamilies::For(const std::string& code) const {
    const auto found = m_chosen.find(TSiteBatch::GroupKey(code));
    return found == m_chosen.end() ? m_fallback : found->second;
}
