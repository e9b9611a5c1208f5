#!/usr/bin/env escript
%% Cross-check of our BER encodings with Erlang/OTP's BER coder: every line
%% of the corpus ("<Type> <hex>", or "<Module>.<Type> <hex>" for a type of
%% another module than the default one) must decode with the Erlang module
%% and encode again to the very same octets.
%%
%% usage: ber_check.escript <default module> <beam dir> <corpus>
-mode(compile).

main([ModText, Dir, Corpus]) ->
    Mod = list_to_atom(ModText),
    true = code:add_patha(filename:absname(Dir)),
    {ok, Text} = file:read_file(Corpus),
    Lines = string:lexemes(binary_to_list(Text), "\n"),
    Failures = lists:filtermap(fun(L) -> check(Mod, L) end, Lines),
    [io:format("FAIL ~s~n  ~p~n", [L, W]) || {L, W} <- Failures],
    Passed = length(Lines) - length(Failures),
    io:format("~b passed, ~b failed~n", [Passed, length(Failures)]),
    halt(if Failures =:= [], Lines =/= [] -> 0; true -> 1 end);
main(_) ->
    io:format(standard_error, "usage: ber_check.escript <module> <beam dir> <corpus>~n", []),
    halt(2).

check(Mod0, Line) ->
    [Name, Hex] = string:lexemes(Line, " "),
    {Mod, Type} = case string:split(Name, ".") of
                      [M, T] -> {list_to_atom(M), list_to_atom(T)};
                      [T] -> {Mod0, list_to_atom(T)}
                  end,
    Bin = binary:decode_hex(list_to_binary(Hex)),
    try
        {ok, Value} = Mod:decode(Type, Bin),
        case Mod:encode(Type, Value) of
            {ok, Bin} -> false;
            {ok, Other} -> {true, {Line, {reencoded_as, binary:encode_hex(Other)}}};
            Error -> {true, {Line, Error}}
        end
    catch
        C:W -> {true, {Line, {C, W}}}
    end.
