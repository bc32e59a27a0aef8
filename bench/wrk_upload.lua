-- wrk's script for bench_server_wrk: every request an upload of one saved
-- transaction as the control posts it, under an Idempotency-Key of its own (the
-- round given after "--", the thread's number, a counter), so that no post is
-- taken for the repeat of another. done() prints how many were sent, answered or
-- not, for the check against what the server stored.
local threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("id", #threads)
end

function init(args)
  round = args[1] or "0"
  sent = 0
end

function request()
  sent = sent + 1
  local key = round .. "-" .. id .. "-" .. sent
  local body = '<xml><rs:data Screen="Order"><z:row n="' .. sent .. '"/></rs:data></xml>'
  return wrk.format("POST", "/processForms.asp?pageID=Order&CompanyID=VELMORA-DEMO&Action=Save",
                    {["Idempotency-Key"] = key}, body)
end

function done(summary, latency, requests)
  local total = 0
  for _, thread in ipairs(threads) do total = total + thread:get("sent") end
  io.write("posts sent: " .. total .. "\n")
end
