#!/usr/bin/env escript
%% Decode and re-encode of LGCP messages with Erlang/OTP's compiled aligned
%% PER (the Erlang variant of the schema, compiled by
%% tests/asn1/erlang/compile.sh), timed as bench/lgcp_roundtrip_bench times
%% ours. One line per message: HEX <ns per decode+encode>.
%%
%% usage: lgcp_per_erlang.escript <dir of the -bper modules> <ms> HEX...
-mode(compile).

main([Dir, Ms | Hexes]) when Hexes =/= [] ->
    true = code:add_patha(Dir),
    Budget = list_to_integer(Ms),
    lists:foreach(fun(Hex) -> one(Hex, Budget) end, Hexes);
main(_) ->
    io:format(standard_error, "usage: lgcp_per_erlang.escript <per dir> <ms> HEX...~n", []),
    halt(2).

one(Hex, Budget) ->
    Octets = binary:decode_hex(list_to_binary(Hex)),
    case round_trip(Octets) of
        Octets -> ok;
        Other ->
            io:format(standard_error, "~s: re-encoded to ~p~n", [Hex, Other]),
            halt(1)
    end,
    N = calibrate(Octets, 1000, Budget),
    Times = lists:sort([batch(Octets, N) || _ <- lists:seq(1, 5)]),
    io:format("~s ~b~n", [Hex, round(lists:nth(3, Times))]).

round_trip(Octets) ->
    {ok, Value} = 'LGCP':decode('Message', Octets),
    {ok, Again} = 'LGCP':encode('Message', Value),
    iolist_to_binary(Again).

calibrate(Octets, N, Budget) ->
    T0 = erlang:monotonic_time(nanosecond),
    loop(Octets, N),
    Elapsed = (erlang:monotonic_time(nanosecond) - T0) / 1.0e6,
    if
        Elapsed >= Budget / 4 -> round(N * Budget / Elapsed) + 1;
        true -> calibrate(Octets, N * 4, Budget)
    end.

%% Nanoseconds per round trip over N round trips.
batch(Octets, N) ->
    T0 = erlang:monotonic_time(nanosecond),
    loop(Octets, N),
    (erlang:monotonic_time(nanosecond) - T0) / N.

loop(_, 0) -> ok;
loop(Octets, N) ->
    _ = round_trip(Octets),
    loop(Octets, N - 1).
