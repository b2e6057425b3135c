#include "quorvan/stock.h"
#include "convert_v67/conversions.h"

namespace convert_v67 {

using namespace quorvan::rule;

// spkc into spckkc, names and prices looked up; the abort box is not
// consulted: the stock of every row is converted.
shell::Operation stock()
{
    return quorvan::stock(quorvan::Rules(quorvan::kSpckkcTable, QStringLiteral("spkc"),
                                         {
                                             code("ckbh", "ckbh"),
                                             code("spbh", "spbh"),
                                             valued("yecbje", "yesl", from("spxx", "spbh", "jhjj"), "spbh"),
                                             valued("yesjje", "yesl", from("spxx", "spbh", "lsj"), "spbh"),
                                             lookupTrimmed("ckmc", from("ck", "ckbh", "ckmc"), "ckbh"),
                                             lookupTrimmed("spmc", from("spxx", "spbh", "spmc"), "spbh"),
                                             lookupTrimmed("dwmc", from("spxx", "spbh", "jldw"), "spbh"),
                                             amount("yesl", "yesl"),
                                             stamp("xgrq"),
                                         }),
                          false);
}

} // namespace convert_v67
