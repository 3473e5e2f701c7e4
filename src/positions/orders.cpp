// orders_total and orders_get: the account's active orders.
#include "module/errors.h"
#include "module/functions.h"
#include "positions/lists.h"

namespace brv::positions {
namespace {

const CurrentFamily kOrders = {
    kOrderRecord, OrdersTotal, OrdersGetAll, OrdersGetBySymbol, OrderGetByTicket, OrdersGetByGroup,
};

}  // namespace
}  // namespace brv::positions

namespace brv::api {

PyObject* orders_total(PyObject*, PyObject*) {
  ResetError();
  return positions::CurrentTotal(positions::kOrders);
}

PyObject* orders_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::CurrentGet(positions::kOrders, args, kwargs);
}

}  // namespace brv::api
