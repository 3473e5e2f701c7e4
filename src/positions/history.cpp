// The trade history: history_orders_total/get (order records) and
// history_deals_total/get (deal records), with the same argument forms.
#include "module/errors.h"
#include "module/functions.h"
#include "positions/lists.h"

namespace brv::positions {
namespace {

const HistoryFamily kHistoryOrders = {
    kOrderRecord, HistoryOrdersTotal, HistoryOrdersGet,
    HistoryOrdersGetByGroup, HistoryOrdersGetByPosition, HistoryOrderGetByTicket,
};

const HistoryFamily kHistoryDeals = {
    kDealRecord, HistoryDealsTotal, HistoryDealsGet,
    HistoryDealsGetByGroup, HistoryDealsGetByPosition, HistoryDealGetByTicket,
};

}  // namespace
}  // namespace brv::positions

namespace brv::api {

PyObject* history_orders_total(PyObject*, PyObject* args) {
  ResetError();
  return positions::HistoryTotal(positions::kHistoryOrders, args);
}

PyObject* history_orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::HistoryGet(positions::kHistoryOrders, args, kwargs);
}

PyObject* history_deals_total(PyObject*, PyObject* args) {
  ResetError();
  return positions::HistoryTotal(positions::kHistoryDeals, args);
}

PyObject* history_deals_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::HistoryGet(positions::kHistoryDeals, args, kwargs);
}

}  // namespace brv::api
