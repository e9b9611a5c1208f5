#!/usr/bin/env escript
%% Checks the golden transcripts (tests/*/transcripts/*.ok) with Erlang/OTP's
%% aligned-PER coder, so that no transcript pins a wrong encoding. Every
%% payload line ("> HEX" or "< HEX") is followed by its value notation as
%% our coder read it:
%%  - a plain value: Erlang decodes the octets to the same value and encodes
%%    that value to exactly the same octets;
%%  - "(not re-encodable) VALUE": Erlang decodes them to the same value (or,
%%    for "(no value notation)", to an alternative the schema does not name);
%%  - "(does not decode)": Erlang refuses the octets too.
%%
%% usage: transcripts.escript <dir of the -bper modules> <tests dir>
-mode(compile).

main([Dir, Tests]) ->
    true = code:add_patha(Dir),
    put(enumerators, enumerators(filename:join([Tests, "..", "asn1", "schema"]))),
    Files = filelib:wildcard(filename:join([Tests, "*", "transcripts", "*.ok"])),
    Results = lists:append([check_file(F) || F <- Files]),
    Failed = [R || R <- Results, R =/= ok],
    [io:format("FAIL ~s~n", [F]) || {fail, F} <- Failed],
    io:format("~b payloads of ~b transcripts~n", [length(Results), length(Files)]),
    io:format("~b passed, ~b failed~n", [length(Results) - length(Failed), length(Failed)]),
    halt(if Failed =:= [], Files =/= [] -> 0; true -> 1 end);
main(_) ->
    io:format(standard_error, "usage: transcripts.escript <per dir> <tests dir>~n", []),
    halt(2).

check_file(File) ->
    {ok, Text} = file:read_file(File),
    Lines = string:split(binary_to_list(Text), "\n", all),
    Name = filename:basename(filename:dirname(filename:dirname(File))) ++ "/" ++ filename:basename(File),
    pairs(Lines, Name, 1).

pairs([[D, $\s | Hex], "  " ++ Value | Rest], Name, N) when D =:= $>; D =:= $< ->
    Where = io_lib:format("~s:~b: ~s", [Name, N, Hex]),
    [check(unhex(Hex), Value, Where) | pairs(Rest, Name, N + 2)];
pairs([_ | Rest], Name, N) ->
    pairs(Rest, Name, N + 1);
pairs([], _, _) ->
    [].

check(Bin, "(does not decode)", Where) ->
    case catch 'LGCP':decode('Message', Bin) of
        {ok, V} -> {fail, io_lib:format("~s: Erlang decodes ~p", [Where, V])};
        _ -> ok
    end;
check(Bin, "(not re-encodable) (no value notation)", Where) ->
    case catch 'LGCP':decode('Message', Bin) of
        {ok, V} ->
            case has_unknown_alternative(V) of
                true -> ok;
                false -> {fail, io_lib:format("~s: Erlang decodes ~p", [Where, V])}
            end;
        Other -> {fail, io_lib:format("~s: ~p", [Where, Other])}
    end;
check(Bin, "(not re-encodable) " ++ Value, Where) ->
    decodes_to(Bin, Value, Where, fun(_) -> ok end);
check(Bin, Value, Where) ->
    decodes_to(Bin, Value, Where, fun(V) ->
        case catch 'LGCP':encode('Message', V) of
            {ok, Bin} -> ok;
            Other -> {fail, io_lib:format("~s: Erlang encodes the value as ~p", [Where, Other])}
        end
    end).

decodes_to(Bin, Value, Where, Then) ->
    case catch 'LGCP':decode('Message', Bin) of
        {ok, V} ->
            case catch same(parse(Value), V) of
                true -> Then(V);
                _ -> {fail, io_lib:format("~s: Erlang decodes ~p, not ~s", [Where, V, Value])}
            end;
        Other -> {fail, io_lib:format("~s: ~p", [Where, Other])}
    end.

has_unknown_alternative({asn1_ExtAlt, _}) -> true;
has_unknown_alternative({_, V}) -> has_unknown_alternative(V);
has_unknown_alternative(M) when is_map(M) -> lists:any(fun has_unknown_alternative/1, maps:values(M));
has_unknown_alternative(_) -> false.

%% --- X.680 value notation, as our printer writes it, into a tree

parse(Text) ->
    {V, []} = value(tokens(Text)),
    V.

tokens([]) -> [];
tokens([C | T]) when C =:= $\s; C =:= $\n -> tokens(T);
tokens([C | T]) when C =:= ${; C =:= $}; C =:= $,; C =:= $: -> [C | tokens(T)];
tokens([$" | T]) -> string(T, []);
tokens([$' | T]) ->
    {Digits, [$', Kind | Rest]} = lists:splitwith(fun(C) -> C =/= $' end, T),
    [{Kind, Digits} | tokens(Rest)];
tokens(T) ->
    {Word, Rest} = lists:splitwith(fun(C) -> not lists:member(C, " \n{},:\"'") end, T),
    [{word, Word} | tokens(Rest)].

string([$", $" | T], Acc) -> string(T, [$" | Acc]);
string([$" | T], Acc) -> [{string, lists:reverse(Acc)} | tokens(T)];
string([C | T], Acc) -> string(T, [C | Acc]).

value([${, $} | T]) -> {{group, []}, T};
value([${ | T]) -> group(T, []);
value([{word, W}, $: | T]) -> {V, Rest} = value(T), {{choice, W, V}, Rest};
value([{word, W} | T]) -> {word(W), T};
value([{string, S} | T]) -> {{string, S}, T};
value([{$H, H} | T]) -> {{octets, unhex(H)}, T};
value([{$B, B} | T]) -> {{bits, << <<(C - $0):1>> || C <- B >>}, T}.

word("NULL") -> 'NULL';
word("TRUE") -> true;
word("FALSE") -> false;
word(W) ->
    case string:to_integer(W) of
        {N, []} -> {int, N};
        _ -> {id, W}
    end.

%% Components of a SEQUENCE ("name value") or elements of a SEQUENCE OF.
group([{word, W} | T], Acc) when hd(T) =/= $,, hd(T) =/= $}, hd(T) =/= $: ->
    {V, Rest} = value(T),
    group_next(Rest, [{W, V} | Acc]);
group(T, Acc) ->
    {V, Rest} = value(T),
    group_next(Rest, [V | Acc]).

group_next([$, | T], Acc) -> group(T, Acc);
group_next([$} | T], Acc) -> {{group, lists:reverse(Acc)}, T}.

%% --- the tree against Erlang's term

same({group, []}, M) when is_map(M) -> map_size(M) =:= 0;
same({group, []}, L) -> L =:= [];
same({group, Items}, M) when is_map(M) ->
    length(Items) =:= map_size(M) andalso
        lists:all(fun({K, V}) -> same(V, maps:get(list_to_atom(x680(K)), M)) end, Items);
same({group, Items}, L) when is_list(L) ->
    length(Items) =:= length(L) andalso lists:all(fun({A, B}) -> same(A, B) end, lists:zip(Items, L));
same({choice, W, V}, {A, T}) -> atom_to_list(A) =:= x680(W) andalso same(V, T);
same({int, N}, N) -> true;
same({id, W}, A) when is_atom(A) -> atom_to_list(A) =:= x680(W);
%% An ENUMERATED whose numbers have gaps is an INTEGER in the Erlang variant:
%% our name must be an enumerator with that number.
same({id, W}, N) when is_integer(N) -> lists:member({W, N}, get(enumerators));
same({string, S}, S) -> true;
same({string, S}, B) when is_binary(B) -> list_to_binary(S) =:= B;
same({octets, B}, B) -> true;
same({bits, B}, B) -> true;
same(X, X) -> true;
same(_, _) -> false.

%% Our names keep their wire spelling; the Erlang variant of the schema is
%% strict X.680, where an identifier has hyphens in place of underscores.
x680(Name) -> [case C of $_ -> $-; _ -> C end || C <- Name].

%% The enumerators of every ENUMERATED of the schema sources whose numbers
%% are not 0..n-1 (the ones the Erlang variant makes INTEGER).
enumerators(SchemaDir) ->
    lists:usort(lists:append([enumerators_in(F) || F <- filelib:wildcard(filename:join(SchemaDir, "*.asn"))])).

enumerators_in(File) ->
    {ok, Text} = file:read_file(File),
    Blocks = case re:run(Text, "ENUMERATED\\s*\\{([^}]*)\\}", [global, {capture, all_but_first, list}]) of
        {match, B} -> [Body || [Body] <- B];
        nomatch -> []
    end,
    lists:append([gapped(Body) || Body <- Blocks]).

gapped(Body) ->
    Items = case re:run(Body, "([a-z][A-Za-z0-9_-]*)\\((-?[0-9]+)\\)", [global, {capture, all_but_first, list}]) of
        {match, Found} -> [{Name, list_to_integer(N)} || [Name, N] <- Found];
        nomatch -> []
    end,
    case lists:sort([N || {_, N} <- Items]) =:= lists:seq(0, length(Items) - 1) of
        true -> [];
        false -> Items
    end.

unhex(Hex) ->
    << <<(list_to_integer([A, B], 16))>> || [A, B] <- pairs_of([C || C <- Hex, C =/= $\s]) >>.

pairs_of([A, B | T]) -> [[A, B] | pairs_of(T)];
pairs_of([]) -> [].
