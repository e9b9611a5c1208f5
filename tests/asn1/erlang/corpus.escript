#!/usr/bin/env escript
%% Random corpus of every reachable protocol type, made and checked by
%% Erlang/OTP's aligned-PER coder: each value is encoded, decoded and encoded
%% again, and both encodings must be the same octets. The corpus file (one
%% "<Module>.<Type> <hex>" a line, schema spelling) is what our own coder
%% decodes, compares and re-encodes.
%%
%% Values come from asn1ct:value/2, which always fills OPTIONAL components;
%% each one is then dropped with probability 1/2 (walking the value along
%% the generator's model), so that absent components are covered too. An
%% enumeration with gaps is an INTEGER in the Erlang variant; its values are
%% drawn from the enumeration's numbers instead.
%%
%% usage: corpus.escript <per dir> <model.eterm> <reachable.txt> <out> <seed> <count>
-mode(compile).

main([Dir, ModelFile, TypesFile, Out, SeedText, CountText]) ->
    Seed = list_to_integer(SeedText),
    Count = list_to_integer(CountText),
    true = code:add_patha(filename:absname(Dir)),
    {ok, Terms} = file:consult(ModelFile),
    Model = maps:from_list([{{M, T}, D} || {type, M, T, D} <- Terms]),
    {ok, TypesText} = file:read_file(TypesFile),
    Types = [list_to_tuple(string:lexemes(L, " "))
             || L <- string:lexemes(binary_to_list(TypesText), "\n")],
    {ok, Cwd} = file:get_cwd(),
    %% asn1ct:value/2 reads the .asn1db files from the working directory.
    ok = file:set_cwd(Dir),
    rand:seed(exsss, {Seed, Seed bxor 16#5bd1e995, 16#2545F491}),
    {Lines, Failures} = lists:foldl(
        fun(Type, Acc) -> per_type(Type, Count, Model, Acc) end, {[], []}, Types),
    ok = file:set_cwd(Cwd),
    ok = file:write_file(Out, lists:reverse(Lines)),
    [io:format("FAIL ~s: ~p~n", [N, W]) || {N, W} <- lists:reverse(Failures)],
    io:format("~b types, ~b values written to ~s~n", [length(Types), length(Lines), Out]),
    io:format("~b passed, ~b failed~n", [length(Types) - length(Failures), length(Failures)]),
    halt(if Failures =:= [] -> 0; true -> 1 end);
main(_) ->
    io:format(standard_error,
              "usage: corpus.escript <per dir> <model.eterm> <reachable.txt> <out> <seed> <count>~n", []),
    halt(2).

per_type({Name, ModS, TypeS}, Count, Model, {Lines, Failures}) ->
    Mod = list_to_atom(ModS),
    Type = list_to_atom(TypeS),
    Def = maps:get({Mod, Type}, Model),
    try
        New = [begin
                   V = thin(random_value(Mod, Type, Def), Def, Model),
                   [Name, " ", hex(round_trip(Mod, Type, V)), "\n"]
               end || _ <- lists:seq(1, Count)],
        {lists:reverse(New) ++ Lines, Failures}
    catch
        _:Why -> {Lines, [{Name, Why} | Failures]}
    end.

%% asn1ct:value/2 returns a value {error, Reason} unwrapped, so for a CHOICE
%% with an alternative named error it cannot be told from a failure by its
%% shape; the encode that follows tells.
random_value(Mod, Type, Def) ->
    case {asn1ct:value(Mod, Type), Def} of
        {{ok, V}, _} -> V;
        {{error, _} = V, {choice, Alts}} ->
            case lists:keymember(error, 1, Alts) of
                true -> V;
                false -> error({no_value, V})
            end;
        {Other, _} -> error({no_value, Other})
    end.

round_trip(Mod, Type, V) ->
    {ok, B1} = Mod:encode(Type, V),
    {ok, D} = Mod:decode(Type, B1),
    case Mod:encode(Type, D) of
        {ok, B1} -> B1;
        {ok, B2} -> error({reencoded_differently, B1, B2})
    end.

thin(V, {ref, M, T}, Model) ->
    thin(V, maps:get({M, T}, Model), Model);
thin(V, {sequence, Fields}, Model) when is_map(V) ->
    lists:foldl(
        fun({F, Optional, D}, Acc) ->
                case maps:find(F, Acc) of
                    error -> Acc;
                    {ok, FV} ->
                        case Optional andalso rand:uniform(2) =:= 1 of
                            true -> maps:remove(F, Acc);
                            false -> Acc#{F := thin(FV, D, Model)}
                        end
                end
        end, V, Fields);
thin({Alt, AV}, {choice, Alts}, Model) ->
    case lists:keyfind(Alt, 1, Alts) of
        {_, D} -> {Alt, thin(AV, D, Model)};
        false -> {Alt, AV}
    end;
thin(_, {enumint, Numbers}, _) ->
    lists:nth(rand:uniform(length(Numbers)), Numbers);
thin(L, {list, D}, Model) when is_list(L) ->
    [thin(X, D, Model) || X <- L];
thin(V, _, _) ->
    V.

hex(Bin) ->
    [io_lib:format("~2.16.0B", [X]) || <<X>> <= Bin].
