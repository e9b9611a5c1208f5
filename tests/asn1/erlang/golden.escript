#!/usr/bin/env escript
%% Pins the schema to the LGCP reference encodings with an independent
%% aligned-PER coder: each value must encode to exactly these octets, and the
%% octets must decode back to the value.
%%
%% usage: golden.escript <dir of the -bper modules>
-mode(compile).

vectors() ->
    [{"command destroy, seq 5, slot 3", "C0 01 05 00 03 0A",
      #{seq => 5, slot => 3, pdu => {command, {destroy, 'NULL'}}}},
     {"command ping, seq 7", "80 01 07 18",
      #{seq => 7, pdu => {command, {ping, 'NULL'}}}},
     {"command connect 17, seq 3, slot 4", "C0 01 03 00 04 04 00 11",
      #{seq => 3, slot => 4, pdu => {command, {connect, 17}}}},
     {"command userData 01 02 03, seq 74565, slot 1023", "C0 03 01 23 45 03 FF 10 03 01 02 03",
      #{seq => 74565, slot => 1023, pdu => {command, {userData, <<1, 2, 3>>}}}},
     {"response success, seq 7, slot 12", "C0 01 07 00 0C 40",
      #{seq => 7, slot => 12, pdu => {response, {success, 'NULL'}}}},
     {"response error invalidSlot, seq 9", "80 01 09 62",
      #{seq => 9, pdu => {response, {error, invalidSlot}}}},
     {"response error unexpectedMsgType, no seq, no slot", "19 00",
      #{pdu => {response, {error, unexpectedMsgType}}}},
     {"signal activated, slot 5", "40 00 05 85",
      #{slot => 5, pdu => {signal, {activated, 'NULL'}}}},
     {"signal number \"123\", slot 2", "40 00 02 82 03 31 32 33",
      #{slot => 2, pdu => {signal, {number, "123"}}}},
     {"signal abort -1, slot 0", "40 00 00 87 01 FF",
      #{slot => 0, pdu => {signal, {abort, -1}}}},
     {"signal tonec {1000, dtmf 5}, slot 3", "40 00 03 81 02 03 E8 00 A0",
      #{slot => 3, pdu => {signal, {tonec, #{timestamp => 1000, event => {dtmf, 5}}}}}},
     {"signal tonec {1000, dtmfDone}, slot 3", "40 00 03 81 02 03 E8 80 01 00",
      #{slot => 3, pdu => {signal, {tonec, #{timestamp => 1000, event => {dtmfDone, 'NULL'}}}}}}].

main([Dir]) ->
    true = code:add_patha(Dir),
    Results = [check(V) || V <- vectors()] ++ [unknown_extension()],
    Failed = length([R || R <- Results, R =/= ok]),
    io:format("~b passed, ~b failed~n", [length(Results) - Failed, Failed]),
    halt(if Failed =:= 0 -> 0; true -> 1 end);
main(_) ->
    io:format(standard_error, "usage: golden.escript <per dir>~n", []),
    halt(2).

check({Name, Hex, Value}) ->
    Octets = unhex(Hex),
    case {'LGCP':encode('Message', Value), 'LGCP':decode('Message', Octets)} of
        {{ok, Octets}, {ok, Value}} -> ok;
        Other -> fail(Name, Other)
    end.

%% Command alternative 15 lies beyond the 15 root alternatives: an extension
%% alternative (X.691 23.8) whose open type holds one zero octet. It decodes,
%% as an alternative no schema names.
unknown_extension() ->
    Name = "command with unknown extension alternative 15, seq 7",
    case 'LGCP':decode('Message', unhex("80 01 07 20 00 01 00")) of
        {ok, #{seq := 7, pdu := {command, {asn1_ExtAlt, _}}}} -> ok;
        Other -> fail(Name, Other)
    end.

fail(Name, What) ->
    io:format("FAIL ~s: ~p~n", [Name, What]),
    fail.

unhex(Hex) ->
    << <<(list_to_integer(X, 16))>> || X <- string:lexemes(Hex, " ") >>.
