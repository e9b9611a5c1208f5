#!/usr/bin/env escript
%% Checks a corpus that our C++ coder encoded: every line
%% "<Module>.<Type> <hex>" (schema spelling) must decode with Erlang/OTP's
%% aligned-PER coder, and the decoded value must encode back to exactly the
%% same octets.
%%
%% usage: cpp_corpus.escript <per dir> <reachable.txt> <corpus>
-mode(compile).

main([Dir, TypesFile, CorpusFile]) ->
    true = code:add_patha(filename:absname(Dir)),
    {ok, TypesText} = file:read_file(TypesFile),
    Types = maps:from_list(
              [begin [N, M, T] = string:lexemes(L, " "), {N, {list_to_atom(M), list_to_atom(T)}} end
               || L <- string:lexemes(binary_to_list(TypesText), "\n")]),
    {ok, CorpusText} = file:read_file(CorpusFile),
    Lines = string:lexemes(binary_to_list(CorpusText), "\n"),
    Results = [check(L, Types) || L <- Lines],
    Failed = [R || R <- Results, R =/= ok],
    [io:format("FAIL ~s~n", [F]) || {fail, F} <- lists:sublist(Failed, 50)],
    Names = lists:usort([hd(string:lexemes(L, " ")) || L <- Lines]),
    io:format("~b values of ~b types checked~n", [length(Lines), length(Names)]),
    io:format("~b passed, ~b failed~n", [length(Results) - length(Failed), length(Failed)]),
    halt(if Failed =:= [], Lines =/= [] -> 0; true -> 1 end);
main(_) ->
    io:format(standard_error, "usage: cpp_corpus.escript <per dir> <reachable.txt> <corpus>~n", []),
    halt(2).

check(Line, Types) ->
    [Name, Hex] = string:lexemes(Line, " "),
    Bin = unhex(Hex),
    try
        {Mod, Type} = maps:get(Name, Types),
        {ok, V} = Mod:decode(Type, Bin),
        case Mod:encode(Type, V) of
            {ok, Bin} -> ok;
            {ok, Other} -> {fail, io_lib:format("~s ~s re-encoded as ~s", [Name, Hex, hex(Other)])}
        end
    catch
        C:Why -> {fail, io_lib:format("~s ~s: ~p:~p", [Name, Hex, C, Why])}
    end.

unhex(Hex) ->
    << <<(list_to_integer([A, B], 16))>> || <<A, B>> <= list_to_binary(Hex) >>.

hex(Bin) ->
    [io_lib:format("~2.16.0B", [X]) || <<X>> <= Bin].
